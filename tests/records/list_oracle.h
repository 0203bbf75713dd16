// A list answer read two ways, both following the record's field table: as the list commands
// read it (the fast way where it can), and the JSON library's way alone, by parsing the whole
// document and converting each member with the library. The two must agree on every text.
#pragma once

#include <deque>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "records/record_stream.h"

namespace korv::test {

using cli::api::ReadResult;

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
template <typename Records>
std::string printAll(const Records& records) {
  using Record = typename Records::value_type;
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

// What the two readings of the text give, when they differ; "" when they agree.
template <typename Record>
std::string disagreement(const std::string& text) {
  std::vector<Record> fromCommands;
  std::deque<Record> fromDocument;
  const ReadResult commands = readRecordArray<Record>(text, fromCommands);
  const std::string printed = std::to_string(int(commands)) + ":\n" + printAll(fromCommands);
  const ReadResult document = cli::api::readDocument<Record>(text, fromDocument);
  const std::string expected = std::to_string(int(document)) + ":\n" + printAll(fromDocument);
  return printed == expected ? "" : "commands " + printed + "document " + expected;
}

}  // namespace korv::test
