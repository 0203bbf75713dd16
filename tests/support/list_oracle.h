// What a list answer turns into, read two ways from the record's field table: straight from the
// parser's events, as the list commands read it, and the plain way, by parsing the whole document
// and converting each member with the JSON library. The two must agree on every text.
#pragma once

#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include <nlohmann/json.hpp>

#include "api/record_stream.h"
#include "common/json_number.h"

namespace korv::test {

using cli::api::ReadResult;

// The result, and for records their compact printed form, one per line.
struct ListOutcome {
  ReadResult result;
  std::string printed;
  bool operator==(const ListOutcome& other) const {
    return result == other.result && printed == other.printed;
  }
};

// The records as the list commands print them, one per line. Each line must be what the JSON
// library's compact dump of the same fields gives; a record where they differ throws.
template <typename Record>
std::string printAll(const std::vector<Record>& records) {
  std::string printed;
  for (const Record& record : records) {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    for (const auto& field : Record::fields) {
      if (field.printed == nullptr) {
        continue;
      }
      auto& value =
          *field.printedIn ? object[field.printedIn][field.printed] : object[field.printed];
      std::visit(
          [&](auto member) {
            using Member = decltype(member);
            if constexpr (std::is_same_v<Member, cli::api::NonEmptyText<Record>>) {
              value = record.*member.flag;
            } else if constexpr (std::is_same_v<Member, std::optional<std::string> Record::*>) {
              value = (record.*member) ? nlohmann::ordered_json(*(record.*member)) : nullptr;
            } else {
              value = record.*member;
            }
          },
          field.member);
    }
    std::string line;
    cli::api::appendCompact(line, record);
    if (line != object.dump()) {
      throw std::logic_error("printed differently: " + line);
    }
    printed += line + "\n";
  }
  return printed;
}

// One element of the document as a record; raises the JSON library's errors as the events raise
// ShapeError.
template <typename Record>
Record fromDocument(const nlohmann::json& object) {
  Record record{};
  bool chainEnded = false;
  for (const auto& field : Record::fields) {
    if (field.key == nullptr || (field.chained && chainEnded)) {
      continue;
    }
    if (field.chained && !object.contains(field.key)) {
      chainEnded = true;
      continue;
    }
    const nlohmann::json& value = object.at(field.key);
    std::visit(
        [&](auto member) {
          using Member = decltype(member);
          if constexpr (std::is_same_v<Member, cli::api::NonEmptyText<Record>>) {
            record.*member.flag = !value.is_null() && !value.get<std::string>().empty();
          } else if constexpr (std::is_same_v<Member, std::uint32_t Record::*>) {
            record.*member = toUnsigned32(value);
          } else if constexpr (std::is_same_v<Member, std::optional<std::string> Record::*>) {
            if (!value.is_null()) {
              record.*member = value.get<std::string>();
            }
          } else {
            value.get_to(record.*member);
          }
        },
        field.member);
  }
  return record;
}

template <typename Record>
ListOutcome readFromEvents(const std::string& text) {
  std::vector<Record> records;
  const ReadResult result = cli::api::readRecordArray<Record>(text, records);
  return {result, printAll(records)};
}

template <typename Record>
ListOutcome readFromDocument(const std::string& text) {
  const std::optional<nlohmann::json> document = cli::api::parseText(text);
  if (!document) {
    return {ReadResult::NotJson, ""};
  }
  std::vector<Record> records;
  try {
    for (const auto& element : document->get_ref<const nlohmann::json::array_t&>()) {
      if (!element.is_object()) {
        return {ReadResult::WrongShape, ""};
      }
      records.push_back(fromDocument<Record>(element));
    }
  } catch (const nlohmann::json::exception&) {
    return {ReadResult::WrongShape, ""};
  }
  return {ReadResult::Records, printAll(records)};
}

}  // namespace korv::test
