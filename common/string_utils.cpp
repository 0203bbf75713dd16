#include "common/string_utils.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <vector>

namespace korv::string {

namespace detail {

std::string vformat(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int length = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  if (length < 0) {
    return {};
  }
  std::vector<char> buffer(static_cast<size_t>(length) + 1, '\0');
  va_start(args, format);
  std::vsnprintf(buffer.data(), buffer.size(), format, args);
  va_end(args);
  return std::string(buffer.data());
}

}  // namespace detail

namespace {
bool isSpace(char c) {
  return std::isspace(static_cast<unsigned char>(c)) != 0;
}
}  // namespace

void ltrim(std::string& text) {
  size_t first = 0;
  while (first < text.size() && isSpace(text[first])) {
    ++first;
  }
  text.erase(0, first);
}

void rtrim(std::string& text) {
  size_t end = text.size();
  while (end > 0 && isSpace(text[end - 1])) {
    --end;
  }
  text.erase(end);
}

std::string hideUserInfo(const std::string& url) {
  // A scheme ("https://") ends at the first "/"; without one the authority starts the text.
  const size_t separator = url.find("://");
  const bool scheme = separator != std::string::npos && url.find('/') == separator + 1;
  const size_t authority = scheme ? separator + 3 : (url.rfind("//", 0) == 0 ? 2 : 0);
  const size_t at = url.rfind('@');
  if (at == std::string::npos || at < authority) {
    return url;
  }
  return url.substr(0, authority) + "***" + url.substr(at);
}

// Appends the value with control characters escaped, and '"' and '\' too when quoted is set. Runs
// of bytes that stay as they are go in at once.
void appendEscaped(std::string& out, std::string_view value, bool quoted) {
  static const char kHex[] = "0123456789abcdef";
  std::size_t plain = 0;  // where the run of bytes not yet appended starts
  for (std::size_t i = 0; i < value.size(); ++i) {
    const auto byte = static_cast<unsigned char>(value[i]);
    if (byte >= 0x20 && !(quoted && (byte == '"' || byte == '\\'))) {
      continue;
    }
    out.append(value, plain, i - plain);
    plain = i + 1;
    switch (byte) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        out += "\\u00";
        out += kHex[byte >> 4];
        out += kHex[byte & 0xF];
    }
  }
  out.append(value, plain, value.size() - plain);
}

std::string printable(const std::string& text) {
  std::string shown;
  appendEscaped(shown, text, false);
  return shown;
}

}  // namespace korv::string
