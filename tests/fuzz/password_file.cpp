// Reading the password file: the password is the first line, split at line feeds, that holds a
// byte other than white space, kept whole (blanks, carriage returns and NUL bytes included); a
// file without one is refused with CLI::FileError.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include <CLI/CLI.hpp>

#include "api/settings.h"
#include "tests/fuzz/scratch_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const korv::test::ScratchFile file;  // mkstemp makes it 0600
  file.Write(data, size);

  const std::string text(reinterpret_cast<const char*>(data), size);
  std::optional<std::string> expected;
  for (size_t start = 0; start < text.size() && !expected;) {
    const size_t end = std::min(text.find('\n', start), text.size());
    const std::string line = text.substr(start, end - start);
    for (const char c : line) {
      if (!std::isspace(static_cast<unsigned char>(c))) {
        expected = line;
        break;
      }
    }
    start = end + 1;
  }

  korv::cli::api::password.clear();
  bool accepted = false;
  try {
    accepted = korv::cli::api::setPasswordFile({file.Path()});
  } catch (const CLI::FileError&) {
  }
  if (accepted != expected.has_value() || (accepted && korv::cli::api::password != *expected)) {
    std::abort();
  }
  korv::cli::api::password.clear();
  return 0;
}
