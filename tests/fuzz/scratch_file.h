// A file for targets whose code under test reads a file by name: made once per process in
// $TMPDIR (or /tmp) with mode 0600, rewritten with every input, removed when the process ends.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace korv::test {

class ScratchFile {
 public:
  ScratchFile() {
    const char* dir = std::getenv("TMPDIR");
    path = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/korv-fuzz-XXXXXX";
    fd = ::mkstemp(path.data());
  }
  ~ScratchFile() { ::unlink(path.c_str()); }

  const std::string& Path() const { return path; }

  // Overwrites in place and then cuts to length: truncating to nothing first makes some file
  // systems flush the file when it is closed, which would slow fuzzing down a hundredfold.
  void Write(const std::uint8_t* data, std::size_t size) const {
    if (fd < 0 || ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size) ||
        ::ftruncate(fd, static_cast<off_t>(size)) != 0) {
      std::perror(path.c_str());
      std::abort();
    }
  }

 private:
  std::string path;
  int fd = -1;  // kept open while the process runs
};

}  // namespace korv::test
