#include "common/string_utils.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <vector>

#include "common/compact_json.h"

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

std::string printable(const std::string& text) {
  std::string shown;
  compact::escapedControls(shown, text);
  return shown;
}

}  // namespace korv::string
