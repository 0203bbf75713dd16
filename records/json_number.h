// Reading a JSON value into an unsigned 32-bit field.
#pragma once

#include <cstdint>

#include <nlohmann/json.hpp>

namespace korv {

// Converts as the JSON library converts numbers (a boolean is 0 or 1, integers wrap, fractions
// are cut off), except that a floating-point value outside the field's range is refused with the
// library's out-of-range error instead of being converted with undefined behaviour.
std::uint32_t toUnsigned32(const nlohmann::json& value);

}  // namespace korv
