// The input as a file, for targets whose code under test reads a file by name. The file is made
// once per process with mode 0600 and removed at once, so nothing is left behind; its name is
// the descriptor's in /proc. It is overwritten in place and then cut to length: truncating to
// nothing first makes some file systems flush the file, which slows fuzzing down a hundredfold.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace korv::test {

inline std::string ScratchFileWith(const std::uint8_t* data, std::size_t size) {
  static const int fd = [] {
    char path[] = "/tmp/korv-fuzz-XXXXXX";
    const int made = ::mkstemp(path);
    ::unlink(path);
    return made;
  }();
  if (fd < 0 || ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size) ||
      ::ftruncate(fd, static_cast<off_t>(size)) != 0) {
    std::perror("scratch file");
    std::abort();
  }
  return "/proc/self/fd/" + std::to_string(fd);
}

}  // namespace korv::test
