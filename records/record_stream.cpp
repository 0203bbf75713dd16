#include "records/record_stream.h"

#include "records/json_number.h"

namespace korv::cli::api {

bool nestedTooDeep(std::string_view text) {
  std::size_t depth = 0;
  bool inString = false;
  bool escaped = false;
  for (const char c : text) {
    if (inString) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxNesting) {
        return true;
      }
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return false;
}

std::optional<nlohmann::json> parseText(std::string_view text) {
  if (holdsNul(text) || nestedTooDeep(text)) {
    return std::nullopt;
  }
  try {
    return nlohmann::json::parse(text);
  } catch (const nlohmann::json::exception&) {
    return std::nullopt;
  }
}

void MemberValue::Take(bool& target) const {
  if (kind != Kind::Boolean) {
    throw ShapeError();
  }
  target = boolean;
}

void MemberValue::Take(std::uint32_t& target) const {
  nlohmann::json number;
  switch (kind) {
    case Kind::Boolean:
      number = boolean;
      break;
    case Kind::Integer:
      number = integer;
      break;
    case Kind::Unsigned:
      number = unsignedInteger;
      break;
    case Kind::Float:
      number = floating;
      break;
    default:
      throw ShapeError();
  }
  try {
    target = toUnsigned32(number);
  } catch (const nlohmann::json::exception&) {
    throw ShapeError();
  }
}

void MemberValue::Take(std::string& target) {
  if (kind != Kind::Text) {
    throw ShapeError();
  }
  target = std::move(text);
}

void MemberValue::Take(std::optional<std::string>& target) {
  if (kind == Kind::Null) {
    target.reset();
  } else {
    Take(target.emplace());
  }
}

void MemberValue::Take(std::vector<std::string>& target) {
  if (kind != Kind::TextList) {
    throw ShapeError();
  }
  target = std::move(texts);
}

void MemberValue::Take(NonEmptyText& target) {
  std::optional<std::string> value;
  Take(value);
  target.value = value && !value->empty();
}

}  // namespace korv::cli::api
