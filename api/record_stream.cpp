#include "api/record_stream.h"

#include "common/json_number.h"

namespace korv::cli::api {

std::optional<nlohmann::json> parseText(const std::string& text) {
  if (holdsNul(text)) {
    return std::nullopt;
  }
  try {
    return nlohmann::json::parse(text);
  } catch (const nlohmann::json::exception&) {
    return std::nullopt;
  }
}

const std::string& MemberValue::AsText() const {
  if (kind != Kind::Text) {
    throw ShapeError();
  }
  return text;
}

bool MemberValue::AsBoolean() const {
  if (kind != Kind::Boolean) {
    throw ShapeError();
  }
  return boolean;
}

std::uint32_t MemberValue::AsUnsigned32() const {
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
    return toUnsigned32(number);
  } catch (const nlohmann::json::exception&) {
    throw ShapeError();
  }
}

const std::vector<std::string>& MemberValue::AsTextList() const {
  if (kind != Kind::TextList) {
    throw ShapeError();
  }
  return texts;
}

std::string MemberValue::TakeText() {
  AsText();
  return std::move(text);
}

std::vector<std::string> MemberValue::TakeTextList() {
  AsTextList();
  return std::move(texts);
}

}  // namespace korv::cli::api
