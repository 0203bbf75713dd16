// printf-style formatting into a std::string, trimming of white space, and values made fit for
// messages.
#pragma once

#include <string>
#include <string_view>
#include <type_traits>

namespace korv::string {

namespace detail {
// Formats with vsnprintf; sized by a measuring pass, so there is no length limit.
std::string vformat(const char* format, ...);

// std::string arguments are passed on as C strings; everything else as it is.
inline const char* arg(const std::string& value) {
  return value.c_str();
}
template <typename T>
T arg(T value) {
  static_assert(std::is_arithmetic_v<T> || std::is_pointer_v<T>,
                "format takes numbers, C strings and std::string");
  return value;
}
}  // namespace detail

// format("Output file '%s' already exists", fileName). A measuring failure gives "".
template <typename... Args>
std::string format(const std::string& format, const Args&... args) {
  return detail::vformat(format.c_str(), detail::arg(args)...);
}

// Erase white space (isspace in the "C" locale) at the start, or at the end, in place.
void ltrim(std::string& text);
void rtrim(std::string& text);

// The URL with its user information (a user name and password before an "@") shown as "***", for
// logs and messages. Everything from the start of the authority to the last "@" counts, so that
// a password holding "/", "?" or "#" is hidden too.
std::string hideUserInfo(const std::string& url);

// The text with its control characters escaped as the verdict table escapes them (\n, \u001b),
// for a value from the command line or a file shown in a one-line message.
std::string printable(const std::string& text);
// Appends the text with its control characters escaped as JSON escapes them (\b \f \n \r \t,
// others as \u00xx), and '"' and '\' too when quoted is set; other bytes, UTF-8 text among them,
// as they are.
void appendEscaped(std::string& out, std::string_view text, bool quoted);

}  // namespace korv::string
