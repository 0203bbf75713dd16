// In-process tests log to a temporary file at the most verbose level; a capture reads what was
// logged since it was made.
#pragma once

#include <string>

namespace korv::test {

class LogCapture {
 public:
  LogCapture();
  // Everything logged since the capture was made.
  std::string Text() const;

 private:
  size_t start;
};

}  // namespace korv::test
