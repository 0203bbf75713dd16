// Reading environment variables.
#pragma once

#include <string>

namespace korv::cli {

// Reads the variable into target. An unset or empty variable gives false and an empty target;
// an empty name gives false and leaves target as it was.
bool process_env(const std::string& name, std::string& target);

}  // namespace korv::cli
