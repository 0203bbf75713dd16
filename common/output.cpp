#include "common/output.h"

#include <fcntl.h>
#include <libgen.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <vector>

#include "common/interrupt.h"

namespace korv {

namespace {

std::string directoryOf(const std::string& path) {
  std::vector<char> copy(path.begin(), path.end());
  copy.push_back('\0');
  return dirname(copy.data());
}

bool standardOutputClosed = false;

// Standard output's buffer (see resumeInterruptedOutput). A write that fails for another reason
// drops what the buffer held and marks the stream failed, as the library's own buffer does.
class StandardOutputBuffer : public std::streambuf {
 public:
  StandardOutputBuffer() { Empty(); }

 protected:
  int_type overflow(int_type c) override {
    if (!Drain()) {
      return traits_type::eof();
    }
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }
  int sync() override { return Drain() ? 0 : -1; }

 private:
  void Empty() { setp(buffer.data(), buffer.data() + buffer.size()); }
  bool Drain() {
    const char* next = pbase();
    while (next < pptr()) {
      const ssize_t written = ::write(1, next, static_cast<std::size_t>(pptr() - next));
      if (written < 0 && errno == EINTR) {
        continue;
      }
      if (written <= 0) {
        Empty();
        return false;
      }
      next += written;
    }
    Empty();
    return true;
  }

  std::array<char, 1 << 16> buffer{};
};

mode_t creationMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

// Makes a temporary file beside the target with the mode given and, when a status is given, the
// owner and group it names. Its short name keeps the longest legal target name usable. Returns
// the file's path; "" when it cannot be made so (and then it does not exist).
std::string makeTemporary(const std::string& target, mode_t mode, const struct stat* keep) {
  std::string name = directoryOf(target) + "/.korv-XXXXXX";
  const int fd = ::mkstemp(name.data());
  if (fd < 0) {
    return "";
  }
  struct stat made {};
  bool kept = ::fstat(fd, &made) == 0;
  if (kept && keep != nullptr && (made.st_uid != keep->st_uid || made.st_gid != keep->st_gid)) {
    kept = ::fchown(fd, keep->st_uid, keep->st_gid) == 0;
  }
  // After the owner, which may clear the set-id bits.
  kept = kept && ::fchmod(fd, mode) == 0 && ::fstat(fd, &made) == 0 &&
         (made.st_mode & 07777) == mode &&
         (keep == nullptr || (made.st_uid == keep->st_uid && made.st_gid == keep->st_gid));
  ::close(fd);
  if (!kept) {
    ::unlink(name.c_str());
    return "";
  }
  return name;
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

// Renames the file to the target; without replace only while nothing has the target's name.
bool moveTo(const std::string& from, const std::string& to, bool replace) {
  if (replace) {
    return ::rename(from.c_str(), to.c_str()) == 0;
  }
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    return true;
  }
  // A file system without that kind of rename still has a link that never replaces.
  return errno == EINVAL && ::link(from.c_str(), to.c_str()) == 0 && ::unlink(from.c_str()) == 0;
}

// Opens the path, truncating what it holds, and writes the text into it. A signal stops a write
// that waits (for the reader of a FIFO, say), so that an interrupt is not held up.
bool writeInPlace(const std::string& path, const std::string& text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    return false;
  }
  const char* data = text.data();
  size_t left = text.size();
  while (left > 0) {
    const ssize_t written = ::write(fd, data, left);
    if (written < 0) {
      if (errno == EINTR && interrupt::signal() == 0) {
        continue;
      }
      ::close(fd);
      return false;
    }
    data += written;
    left -= static_cast<size_t>(written);
  }
  return ::close(fd) == 0;
}

}  // namespace

AtomicFile::~AtomicFile() {
  Discard();
}

bool AtomicFile::Open(const std::string& given, bool replaceTarget) {
  Discard();
  path = given;
  target = given;
  replace = replaceTarget;

  struct stat status {};
  // A new file may not take the name of a symbolic link either; a replacement follows one.
  if ((replace ? ::stat(given.c_str(), &status) : ::lstat(given.c_str(), &status)) != 0) {
    if (errno != ENOENT) {
      return false;
    }
    temporary = makeTemporary(target, creationMode(), nullptr);
    if (temporary.empty()) {
      return false;
    }
  } else if (!replace || S_ISDIR(status.st_mode)) {
    return false;
  } else if (S_ISREG(status.st_mode)) {
    // The file itself must be writable, as it would be for a plain write.
    const int fd = ::open(given.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
      return false;
    }
    ::close(fd);
    // A link is followed, so that the file it points to is replaced, not the link.
    const std::unique_ptr<char, decltype(&std::free)> resolved(realpath(given.c_str(), nullptr),
                                                               &std::free);
    if (resolved && status.st_nlink == 1) {
      target = resolved.get();
      temporary = makeTemporary(target, status.st_mode & 07777, &status);
    }
  } else if (::faccessat(AT_FDCWD, given.c_str(), W_OK, AT_EACCESS) != 0) {
    // A FIFO or a device is not opened before the content is ready: opening would already count
    // as a writer for the FIFO's reader, or act on the device.
    return false;
  }

  if (!temporary.empty()) {
    file.open(temporary, std::ios::binary | std::ios::trunc);
    if (!file.is_open()) {
      Discard();
      return false;
    }
  }
  memory.str("");
  memory.clear();
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
    written = writeInPlace(path, memory.str());
  } else {
    file.close();
    written = !file.fail() && syncFile(temporary) && moveTo(temporary, target, replace);
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

void openClosedStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) {
      continue;
    }
    // The lowest free descriptor, which is this one: the ones below it are open by now.
    const int opened = ::open("/dev/null", O_RDWR);
    if (opened >= 0 && opened != fd) {
      ::dup2(opened, fd);
      ::close(opened);
    }
    standardOutputClosed = standardOutputClosed || fd == 1;
  }
}

void resumeInterruptedOutput() {
  // Never destroyed: the library flushes std::cout when the process ends, after every static
  // object of ours has gone.
  static auto* const buffer = new StandardOutputBuffer;
  std::cout.rdbuf(buffer);
}

void checkStandardOutput(std::ostream& out, const Place& place) {
  if (!out || (standardOutputClosed && &out == &std::cout)) {
    throw FileError("Failed to write to the standard output.", place.function, place.line);
  }
}

}  // namespace korv
