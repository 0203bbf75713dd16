#include "records/json_text.h"

#include <cstring>

namespace korv::cli::api::text {

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::size_t closingQuote(std::string_view text, std::size_t at) {
  for (std::size_t from = at + 1; from < text.size();) {
    const void* found = std::memchr(text.data() + from, '"', text.size() - from);
    if (found == nullptr) {
      return std::string_view::npos;
    }
    const auto quote = static_cast<std::size_t>(static_cast<const char*>(found) - text.data());
    // A quote after an odd number of backslashes is escaped.
    std::size_t backslashes = 0;
    while (quote - backslashes > at + 1 && text[quote - backslashes - 1] == '\\') {
      ++backslashes;
    }
    if (backslashes % 2 == 0) {
      return quote;
    }
    from = quote + 1;
  }
  return std::string_view::npos;
}

std::size_t valueEnd(std::string_view text, std::size_t at) {
  std::size_t depth = 0;
  for (std::size_t i = at; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"') {
      i = closingQuote(text, i);
      if (i == std::string_view::npos) {
        return std::string_view::npos;
      }
      if (depth == 0) {
        return i + 1;
      }
    } else if (c == '[' || c == '{') {
      ++depth;
    } else if (c == ']' || c == '}') {
      if (depth == 0) {
        return i;
      }
      if (--depth == 0) {
        return i + 1;
      }
    } else if (depth == 0 && (c == ',' || isSpace(c))) {
      return i;
    }
  }
  return depth == 0 ? text.size() : std::string_view::npos;
}

}  // namespace korv::cli::api::text
