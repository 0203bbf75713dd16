// Writing JSON in the JSON library's compact form: byte for byte what dump() gives for the same
// values. The list prints its records with it and the fast way (fast_json.h) writes exports and
// import requests with it; a document of the library is written by the library.
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korv::compact {

// Takes what is written only to count its bytes, where writing measures.
struct Length {
  std::size_t bytes = 0;
  Length& operator+=(char) {
    ++bytes;
    return *this;
  }
  Length& operator+=(std::string_view text) {
    bytes += text.size();
    return *this;
  }
};

// A text: quoted, with '"', '\' and control characters escaped as the library does (\b \f \n \r
// \t, others as \u00xx); other bytes, UTF-8 text among them, as they are.
void quoted(std::string& out, std::string_view text);
void quoted(Length& out, std::string_view text);

// Out is a std::string or a Length.
template <typename Out, typename Integer>
void number(Out& out, Integer value) {
  char digits[24];
  const char* end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out += std::string_view(digits, static_cast<std::size_t>(end - digits));
}
template <typename Out>
void boolean(Out& out, bool flag) {
  out += std::string_view(flag ? "true" : "false");
}
template <typename Out>
void null(Out& out) {
  out += std::string_view("null");
}

// The values of a record's fields; a text that is missing is null.
void value(std::string& out, const std::string& text);
void value(std::string& out, const std::optional<std::string>& text);
void value(std::string& out, const std::vector<std::string>& texts);
void value(std::string& out, std::uint32_t value);
void value(std::string& out, bool flag);
// "<separator>"<key>":" where the separator is "{" for the first member and "," otherwise.
void key(std::string& out, std::string_view name, bool first = false);

}  // namespace korv::compact
