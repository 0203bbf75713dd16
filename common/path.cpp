#include "common/path.h"

#include <libgen.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <memory>
#include <vector>

#include "common/env.h"

namespace korv::path {

std::string getExecutablePath() {
  std::unique_ptr<char, decltype(&std::free)> resolved(realpath("/proc/self/exe", nullptr),
                                                       &std::free);
  return resolved ? std::string(resolved.get()) : std::string();
}

std::string getExecutableDir() {
  const std::string path = getExecutablePath();
  if (path.empty()) {
    return ".";
  }
  std::vector<char> copy(path.begin(), path.end());
  copy.push_back('\0');
  return dirname(copy.data());
}

std::string mergePaths(const std::string& first, const std::string& second) {
  return first + "/" + second;
}

bool checkIfFileExists(const std::string& path) {
  return access(path.c_str(), F_OK) == 0;
}

bool checkIfNameTaken(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0;
}

std::string getHomeDir() {
  std::string home;
  if (cli::process_env("HOME", home)) {
    return home;
  }
  // Without HOME, the effective user's home directory from the password database.
  const long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(suggested > 0 ? static_cast<size_t>(suggested) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
      found->pw_dir) {
    home = found->pw_dir;
  }
  return home;
}

}  // namespace korv::path
