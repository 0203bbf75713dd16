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
  const std::string file = korv::test::ScratchFileWith(data, size);
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::optional<std::string> expected;
  for (size_t start = 0, end = 0; start < text.size() && !expected; start = end + 1) {
    end = std::min(text.find('\n', start), text.size());
    const std::string line = text.substr(start, end - start);
    if (std::any_of(line.begin(), line.end(), [](unsigned char c) { return !std::isspace(c); })) {
      expected = line;
    }
  }
  korv::cli::api::password.clear();
  bool accepted = false;
  try {
    accepted = korv::cli::api::setPasswordFile({file});
  } catch (const CLI::FileError&) {
  }
  if (accepted != expected.has_value() || (accepted && korv::cli::api::password != *expected)) {
    std::abort();
  }
  return 0;
}
