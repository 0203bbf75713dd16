// Reading the password file: the password is the first line, split at line feeds, that holds a
// byte other than white space, kept whole (blanks, carriage returns and NUL bytes included); a
// file without one is refused with CLI::FileError.
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>

#include <CLI/CLI.hpp>

#include "connection/settings.h"
#include "tests/fuzz/scratch_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::istringstream lines(std::string(reinterpret_cast<const char*>(data), size));
  std::optional<std::string> expected;
  for (std::string line; !expected && std::getline(lines, line);) {
    if (line.find_first_not_of(" \t\n\v\f\r") != std::string::npos) {
      expected = line;
    }
  }
  korv::cli::api::password.clear();
  bool accepted = false;
  try {
    accepted = korv::cli::api::setPasswordFile({korv::test::ScratchFileWith(data, size)});
  } catch (const CLI::FileError&) {
  }
  if (accepted != expected.has_value() || (accepted && korv::cli::api::password != *expected)) {
    std::abort();
  }
  return 0;
}
