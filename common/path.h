// Path helpers.
#pragma once

#include <string>

namespace korv::path {

// Canonical path of the running executable; "" when it cannot be resolved.
std::string getExecutablePath();
// Directory of the running executable; "." when unknown.
std::string getExecutableDir();
// first + "/" + second; the slash is always inserted.
std::string mergePaths(const std::string& first, const std::string& second);
// True when the path exists (a directory counts); false for a dangling link.
bool checkIfFileExists(const std::string& path);
// True when something has the name: a file, a directory or a symbolic link, dangling or not.
bool checkIfNameTaken(const std::string& path);
// The home directory, where the default log file lives: "HOME", or when that is unset or empty
// the effective user's home in the password database; "" when neither is known.
std::string getHomeDir();

}  // namespace korv::path
