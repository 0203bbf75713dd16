// Writing JSON in the JSON library's compact form straight into a string, for output that is
// written record by record: byte for byte what dump() of the same values gives.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korv::compact {

// A string value: quoted, with '"', '\' and control characters escaped as the library does
// (\b \f \n \r \t, others as \u00xx); other bytes, UTF-8 text among them, as they are.
void value(std::string& out, const std::string& text);
void quoted(std::string& out, std::string_view text);
// A text, or null when there is none.
void value(std::string& out, const std::optional<std::string>& text);
void value(std::string& out, const std::vector<std::string>& texts);
void value(std::string& out, std::uint32_t number);
void value(std::string& out, bool flag);
// "<separator>"<key>":" where the separator is "{" for the first member and "," otherwise.
void key(std::string& out, std::string_view name, bool first = false);

}  // namespace korv::compact
