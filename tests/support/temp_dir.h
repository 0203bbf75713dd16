// A temporary directory that is removed, with everything in it, when its owner goes.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace korv::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return path; }
  // path + "/" + name
  std::string operator/(const std::string& name) const { return path + "/" + name; }

 private:
  std::string path;
};

// Whole-file helpers for tests.
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content, mode_t mode = 0600);
bool Exists(const std::string& path);
// The names in a directory, sorted, without "." and "..".
std::vector<std::string> Entries(const std::string& dir);
mode_t FileMode(const std::string& path);  // permission bits only

}  // namespace korv::test
