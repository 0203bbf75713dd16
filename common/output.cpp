#include "common/output.h"

#include <fcntl.h>
#include <libgen.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <vector>

namespace korv {

namespace {

std::string directoryOf(const std::string& path) {
  std::vector<char> copy(path.begin(), path.end());
  copy.push_back('\0');
  return dirname(copy.data());
}

std::string baseNameOf(const std::string& path) {
  std::vector<char> copy(path.begin(), path.end());
  copy.push_back('\0');
  return basename(copy.data());
}

// A link is followed, so that the file it points to gets the content, as a plain write would.
std::string resolveLink(const std::string& path) {
  struct stat status {};
  if (::lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
    return path;
  }
  std::unique_ptr<char, decltype(&std::free)> resolved(realpath(path.c_str(), nullptr), &std::free);
  return resolved ? std::string(resolved.get()) : path;
}

mode_t creationMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

bool syncFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  const bool synced = ::fsync(fd) == 0;
  ::close(fd);
  return synced;
}

}  // namespace

AtomicFile::~AtomicFile() {
  Discard();
}

bool AtomicFile::Open(const std::string& path) {
  Discard();
  target = resolveLink(path);

  mode_t mode = creationMode();
  struct stat status {};
  const bool exists = ::stat(target.c_str(), &status) == 0;
  if (exists) {
    // The target itself must be writable, as it would be for a plain write.
    const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
      return false;
    }
    ::close(fd);
    mode = status.st_mode & 07777;
  }

  std::string pattern = directoryOf(target) + "/." + baseNameOf(target) + ".XXXXXX";
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) {
    if (!exists) {
      return false;
    }
    memory.str("");
    memory.clear();
    open = true;
    return true;
  }
  ::fchmod(fd, mode);
  ::close(fd);
  temporary = pattern;
  file.open(temporary, std::ios::binary | std::ios::trunc);
  if (!file.is_open()) {
    ::unlink(temporary.c_str());
    temporary.clear();
    return false;
  }
  open = true;
  return true;
}

std::ostream& AtomicFile::Stream() {
  if (temporary.empty()) {
    return memory;
  }
  return file;
}

bool AtomicFile::Commit() {
  if (!open) {
    return false;
  }
  bool written;
  if (temporary.empty()) {
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    out << memory.str();
    out.close();
    written = !out.fail();
  } else {
    file.close();
    written =
        !file.fail() && syncFile(temporary) && ::rename(temporary.c_str(), target.c_str()) == 0;
    if (written) {
      temporary.clear();
    }
  }
  Discard();
  return written;
}

void AtomicFile::Discard() {
  if (file.is_open()) {
    file.close();
  }
  file.clear();
  if (!temporary.empty()) {
    ::unlink(temporary.c_str());
    temporary.clear();
  }
  memory.str("");
  open = false;
}

void checkStandardOutput(std::ostream& out, const Place& place) {
  if (!out) {
    throw FileError("Failed to write to the standard output.", place.function, place.line);
  }
}

}  // namespace korv
