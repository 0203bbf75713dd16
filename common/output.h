// Output that either arrives whole or not at all.
#pragma once

#include <fstream>
#include <ostream>
#include <sstream>
#include <string>

#include "common/error.h"

namespace korv {

// A file whose new content replaces the target only when committed. The content goes to a
// temporary file beside the target, which is renamed over it at the end; until then the target
// stays as it was, and a file that is never committed leaves nothing behind. Where no temporary
// file can be made beside a target that can be written, the content is kept in memory and
// written over the target on commit instead.
class AtomicFile {
 public:
  AtomicFile() = default;
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // False when the target cannot be written (a directory, no permission, a missing directory).
  bool Open(const std::string& target);
  bool IsOpen() const { return open; }
  std::ostream& Stream();
  // Makes the written content the target's; false (the target untouched) when that fails.
  bool Commit();
  // Forgets what was written; the target stays as it was.
  void Discard();

 private:
  bool open = false;
  std::string target;
  std::string temporary;  // empty when writing in memory
  std::ofstream file;
  std::ostringstream memory;
};

// Raises a FileError when standard output did not take what was written to it (a full disk, a
// closed pipe).
void checkStandardOutput(std::ostream& out, const Place& place);

}  // namespace korv
