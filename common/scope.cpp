#include "common/scope.h"

#include <exception>

#include "common/logger.h"

namespace korv {

Scope::Scope(std::function<void()> onExit) : onExit(std::move(onExit)) {}

Scope::~Scope() {
  // The guarded functions report their own failures; an error escaping one anyway must not
  // terminate the process while another error may be unwinding.
  try {
    onExit();
  } catch (const std::exception& e) {
    LOG_ERROR << "Error while leaving a scope: " << e.what();
  } catch (...) {
    LOG_ERROR << "Unknown error while leaving a scope.";
  }
}

}  // namespace korv
