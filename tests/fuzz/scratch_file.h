// The input as a file (mode 0600), for targets whose code under test reads a file by name: one
// memory file per process, named by its descriptor in /proc, so nothing is left behind. It is
// overwritten in place and then cut to length.
#pragma once

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace korv::test {

inline std::string ScratchFileWith(const std::uint8_t* data, std::size_t size) {
  static const int fd = ::memfd_create("korv-fuzz", 0);
  if (fd < 0 || ::fchmod(fd, 0600) != 0 ||
      ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size) ||
      ::ftruncate(fd, static_cast<off_t>(size)) != 0) {
    std::perror("scratch file");
    std::abort();
  }
  return "/proc/self/fd/" + std::to_string(fd);
}

}  // namespace korv::test
