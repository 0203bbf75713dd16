// A file for targets whose code under test reads a file by name: made once per process in
// $TMPDIR (or /tmp) with mode 0600, rewritten with every input, removed when the process ends.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace korv::test {

class ScratchFile {
 public:
  ScratchFile() {
    const char* dir = std::getenv("TMPDIR");
    path = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/korv-fuzz-XXXXXX";
    const int fd = ::mkstemp(path.data());
    if (fd < 0 || ::close(fd) != 0) {
      std::perror(path.c_str());
      std::abort();
    }
  }
  ~ScratchFile() { ::unlink(path.c_str()); }

  const std::string& Path() const { return path; }

  // Overwrites in place and then cuts to length: truncating to nothing first makes some file
  // systems flush the file when it is closed, which would slow fuzzing down a hundredfold.
  void Write(const std::uint8_t* data, std::size_t size) const {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    file.close();
    if (!file || ::truncate(path.c_str(), static_cast<off_t>(size)) != 0) {
      std::perror(path.c_str());
      std::abort();
    }
  }

 private:
  std::string path;
};

}  // namespace korv::test
