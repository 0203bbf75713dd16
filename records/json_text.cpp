#include "records/json_text.h"

#include <array>
#include <cstdint>

namespace korv::cli::api::text {

namespace {

// What a byte is to valueEnd.
enum Kind : std::uint8_t { kOther, kQuote, kOpen, kClose, kSeparator };

constexpr std::array<std::uint8_t, 256> kKinds = [] {
  std::array<std::uint8_t, 256> kinds{};
  kinds['"'] = kQuote;
  kinds['['] = kinds['{'] = kOpen;
  kinds[']'] = kinds['}'] = kClose;
  kinds[','] = kinds[' '] = kinds['\t'] = kinds['\n'] = kinds['\r'] = kSeparator;
  return kinds;
}();

}  // namespace

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::size_t closingQuote(std::string_view text, std::size_t at) {
  // Byte by byte: the strings of records are short. A backslash escapes the byte after it.
  for (std::size_t i = at + 1; i < text.size(); ++i) {
    if (text[i] == '\\') {
      ++i;
    } else if (text[i] == '"') {
      return i;
    }
  }
  return std::string_view::npos;
}

std::size_t valueEnd(std::string_view text, std::size_t at) {
  std::size_t depth = 0;
  for (std::size_t i = at; i < text.size(); ++i) {
    switch (kKinds[static_cast<unsigned char>(text[i])]) {
      case kOther:
        break;
      case kQuote:
        i = closingQuote(text, i);
        if (i == std::string_view::npos) {
          return std::string_view::npos;
        }
        if (depth == 0) {
          return i + 1;
        }
        break;
      case kOpen:
        ++depth;
        break;
      case kClose:
        if (depth == 0) {
          return i;
        }
        if (--depth == 0) {
          return i + 1;
        }
        break;
      case kSeparator:
        if (depth == 0) {
          return i;
        }
        break;
    }
  }
  return depth == 0 ? text.size() : std::string_view::npos;
}

}  // namespace korv::cli::api::text
