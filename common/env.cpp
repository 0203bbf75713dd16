#include "common/env.h"

#include <cstdlib>

namespace korv::cli {

bool process_env(const std::string& name, std::string& target) {
  if (name.empty()) {
    return false;
  }
  target.clear();
  const char* value = std::getenv(name.c_str());
  if (value == nullptr || *value == '\0') {
    return false;
  }
  target = value;
  return true;
}

}  // namespace korv::cli
