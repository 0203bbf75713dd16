// What a list answer turns into, read two ways: straight from the parser's events, as the list
// commands read it, and by parsing a whole document and converting each element with from_json,
// the plain way. The two must agree on every text.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "api/record_stream.h"

namespace korv::test {

// The result, and for records their compact printed form, one per line.
struct ListOutcome {
  cli::api::ReadResult result;
  std::string printed;

  bool operator==(const ListOutcome& other) const {
    return result == other.result && printed == other.printed;
  }
};

// The records as the list commands print them, one per line. Each line must be what to_json and
// the library's compact dump give; a record where they differ throws.
template <typename Record>
std::string printAll(const std::vector<Record>& records) {
  std::string printed;
  for (const auto& record : records) {
    std::string line;
    appendCompact(line, record);
    if (line != nlohmann::ordered_json(record).dump()) {
      throw std::logic_error("printed differently: " + line);
    }
    printed += line + "\n";
  }
  return printed;
}

template <typename Reader>
ListOutcome readFromEvents(const std::string& text) {
  std::vector<typename Reader::Record> records;
  const cli::api::ReadResult result = cli::api::readRecordArray<Reader>(text, records);
  return {result, printAll(records)};
}

template <typename Reader>
ListOutcome readFromDocument(const std::string& text) {
  const std::optional<nlohmann::json> document = cli::api::parseText(text);
  if (!document) {
    return {cli::api::ReadResult::NotJson, ""};
  }
  try {
    return {cli::api::ReadResult::Records,
            printAll(document->get<std::vector<typename Reader::Record>>())};
  } catch (const nlohmann::json::exception&) {
    return {cli::api::ReadResult::WrongShape, ""};
  }
}

inline const char* describe(cli::api::ReadResult result) {
  switch (result) {
    case cli::api::ReadResult::Records:
      return "records";
    case cli::api::ReadResult::NotJson:
      return "not JSON";
    case cli::api::ReadResult::WrongShape:
      return "wrong shape";
  }
  return "?";
}

}  // namespace korv::test
