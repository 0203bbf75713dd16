// Runs a function when the enclosing scope is left, by return or by an error.
#pragma once

#include <functional>

namespace korv {

class Scope {
 public:
  explicit Scope(std::function<void()> onExit);
  ~Scope();

  Scope(const Scope&) = delete;
  Scope& operator=(const Scope&) = delete;

 private:
  std::function<void()> onExit;
};

}  // namespace korv
