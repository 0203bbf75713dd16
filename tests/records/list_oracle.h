// A list answer read two ways, both following the record's field table: straight from the
// parser's events, as the list commands read it, and the plain way, by parsing the whole document
// and converting each member with the JSON library. The two must agree on every text.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "records/json_number.h"
#include "records/record_stream.h"

namespace korv::test {

using cli::api::ReadResult;

// A member's value converted by the JSON library, as the record's field holds it.
inline void readValue(const nlohmann::json& value, std::uint32_t& target) {
  target = toUnsigned32(value);
}
inline void readValue(const nlohmann::json& value, std::optional<std::string>& target) {
  if (!value.is_null()) {
    target = value.get<std::string>();
  }
}
inline void readValue(const nlohmann::json& value, cli::api::NonEmptyText& target) {
  target.value = !value.is_null() && !value.get<std::string>().empty();
}
template <typename T>
void readValue(const nlohmann::json& value, T& target) {
  value.get_to(target);
}

// A field's value written by the JSON library.
inline nlohmann::ordered_json written(const std::optional<std::string>& text) {
  return text ? nlohmann::ordered_json(*text) : nlohmann::ordered_json(nullptr);
}
inline nlohmann::ordered_json written(const cli::api::NonEmptyText& flag) {
  return flag.value;
}
template <typename T>
nlohmann::ordered_json written(const T& value) {
  return value;
}

// The records as the list commands print them, one per line. Each line must be the JSON
// library's compact dump of the same fields; a record where they differ throws.
template <typename Record>
std::string printAll(const std::vector<Record>& records) {
  std::string printed;
  for (const Record& record : records) {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    for (const auto& field : Record::fields) {
      const std::string key(field.printed), in(field.printedIn);
      if (!key.empty()) {
        auto& value = in.empty() ? object[key] : object[in][key];
        std::visit([&](auto member) { value = written(record.*member); }, field.member);
      }
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

// The records as the list commands read them, from a text followed by bytes that would end it
// early, were they read as its own.
template <typename Record>
ReadResult readRecordArray(const std::string& text, std::vector<Record>& records) {
  const std::string padded = text + std::string(64, ']');
  return cli::api::readRecords<Record>(
      std::string_view(padded.data(), text.size()),
      [&](Record&& record) { records.push_back(std::move(record)); }, 64);
}

// As readRecordArray, from the whole document.
template <typename Record>
ReadResult readDocument(const std::string& text, std::vector<Record>& records) {
  const std::optional<nlohmann::json> document = cli::api::parseText(text);
  if (!document) {
    return ReadResult::NotJson;
  }
  try {
    for (const nlohmann::json& object : document->get_ref<const nlohmann::json::array_t&>()) {
      Record& record = records.emplace_back(Record{});
      bool chainEnded = false;
      for (const auto& field : Record::fields) {
        const std::string key(field.key);
        chainEnded = chainEnded || (field.chained && !object.contains(key));
        if (!key.empty() && !(field.chained && chainEnded)) {
          std::visit([&](auto member) { readValue(object.at(key), record.*member); }, field.member);
        }
      }
    }
  } catch (const nlohmann::json::exception&) {
    records.clear();
    return ReadResult::WrongShape;
  }
  return ReadResult::Records;
}

// What the two readings of the text give, when they differ; "" when they agree.
template <typename Record>
std::string disagreement(const std::string& text) {
  std::vector<Record> fromEvents, fromDocument;
  const ReadResult events = readRecordArray<Record>(text, fromEvents);
  const std::string printed = std::to_string(int(events)) + ":\n" + printAll(fromEvents);
  const ReadResult document = readDocument<Record>(text, fromDocument);
  const std::string expected = std::to_string(int(document)) + ":\n" + printAll(fromDocument);
  return printed == expected ? "" : "events " + printed + "document " + expected;
}

}  // namespace korv::test
