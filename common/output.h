// Output that either arrives whole or not at all.
#pragma once

#include <fstream>
#include <ostream>
#include <sstream>
#include <string>

#include "common/error.h"

namespace korv {

// A file whose new content replaces the target only when committed; a file that is never
// committed leaves nothing behind anywhere.
//
// Where it is safe, the content goes to a temporary file beside the target, which is renamed over
// it at the end, so the target changes at once or not at all: when the target is missing, or is a
// regular file with one link that the temporary file can take the owner, group and mode of. A
// dangling symbolic link is replaced itself: no file is created where it points. Every other
// target keeps its identity: a FIFO, a device, a file with other hard links, another's file, a
// directory where no temporary file can be made. The content is then kept in memory and written
// into the target itself on commit.
class AtomicFile {
 public:
  AtomicFile() = default;
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // False when the target cannot be written (a directory, no permission, a missing directory).
  // Without replace the file must be new: a name that exists, a symbolic link included, is
  // refused, and so is one that appears before the commit.
  bool Open(const std::string& target, bool replace);
  bool IsOpen() const { return open; }
  std::ostream& Stream();
  // Makes the written content the target's; false when that fails (the target is untouched,
  // unless it was being written in place).
  bool Commit();
  // Forgets what was written; the target stays as it was.
  void Discard();

 private:
  bool open = false;
  bool replace = false;
  std::string path;       // as given; written in place
  std::string target;     // what a replacement is renamed to: the path with its links followed
  std::string temporary;  // empty when writing in place
  std::ofstream file;
  std::ostringstream memory;
};

// Puts /dev/null on each of the descriptors 0, 1 and 2 that is not open, so that no file opened
// later (the log, a connection's socket) takes its place, and remembers whether standard output
// was among them. Runs first thing in main.
void openClosedStandardStreams();

// Sends what std::cout is given straight to descriptor 1 through a buffer of its own, resuming
// a write that a signal interrupts: an interrupted run still prints whole lines, and can then
// print how it stopped. Runs in main, once the standard descriptors are open.
void resumeInterruptedOutput();

// Raises a FileError when standard output did not take what was written to it (a full disk, a
// closed pipe), or when it is the standard output the process was started without.
void checkStandardOutput(std::ostream& out, const Place& place);

}  // namespace korv
