// A file for targets whose code under test reads a file by name: made once per process in
// $TMPDIR (or /tmp) with mode 0600, rewritten with every input, removed when the process ends.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
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
    const int fd = ::mkstemp(path.data());
    if (fd < 0) {
      std::perror(path.c_str());
      std::abort();
    }
    ::close(fd);
  }
  ~ScratchFile() { ::unlink(path.c_str()); }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  const std::string& Path() const { return path; }

  // Overwrites in place and then cuts to length: truncating to nothing first makes some file
  // systems flush the file when it is closed, which would slow fuzzing down a hundredfold.
  void Write(const std::uint8_t* data, std::size_t size) const {
    const int fd = ::open(path.c_str(), O_WRONLY);
    std::size_t done = 0;
    while (fd >= 0 && done < size) {
      const ssize_t written = ::pwrite(fd, data + done, size - done, static_cast<off_t>(done));
      if (written <= 0) {
        break;
      }
      done += static_cast<std::size_t>(written);
    }
    if (fd < 0 || done != size || ::ftruncate(fd, static_cast<off_t>(size)) != 0 ||
        ::close(fd) != 0) {
      std::perror(path.c_str());
      std::abort();
    }
  }

 private:
  std::string path;
};

}  // namespace korv::test
