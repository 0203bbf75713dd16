// Reading a JSON array of records. The fast way (fast_json.h) takes the plain case without
// building a document, so that a large list costs little more memory than its text and its
// records; everything else is judged by the JSON library: the whole text parsed as one document,
// and each member the record's field table names converted with the library.
//
// What is accepted, and what each record becomes, is what the library's way gives: the text must
// be one JSON value, the value an array of objects, and each object must hold the members the
// record needs with the right types (a member given twice counts with its last value); other
// members are ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "records/fast_json.h"
#include "records/json_number.h"
#include "records/record_fields.h"

namespace korv::cli::api {

// A record member that is missing or of the wrong type.
struct ShapeError {};

// One member of a record as the fast way read it.
class MemberValue {
 public:
  enum class Kind { Missing, Null, Boolean, Integer, Unsigned, Float, Text, TextList, Other };

  Kind kind = Kind::Missing;
  bool boolean = false;
  std::int64_t integer = 0;
  std::uint64_t unsignedInteger = 0;
  double floating = 0;
  std::string text;
  std::vector<std::string> texts;

  bool IsMissing() const { return kind == Kind::Missing; }
  // Each hands the value over into a field of that type, and raises ShapeError where the JSON
  // library's conversion would raise its error.
  void Take(std::uint32_t& target) const;
  void Take(bool& target) const;
  void Take(std::string& target);
  void Take(std::optional<std::string>& target);
  void Take(std::vector<std::string>& target);
  void Take(NonEmptyText& target);
};

// The record made from its members, in the order of Record::fields; raises ShapeError.
template <typename Record>
Record makeRecord(std::vector<MemberValue>& members) {
  Record record{};
  bool chainEnded = false;
  for (std::size_t i = 0; i < members.size(); ++i) {
    const Field<Record>& field = Record::fields[i];
    if (field.key.empty() || (field.chained && chainEnded)) {
      continue;
    }
    if (members[i].IsMissing()) {
      if (!field.chained) {
        throw ShapeError();
      }
      chainEnded = true;
      continue;
    }
    std::visit([&](auto member) { members[i].Take(record.*member); }, field.member);
  }
  return record;
}

// A member's value converted by the JSON library into a field of that type; each raises the
// library's error for a value of another type.
inline void convert(const nlohmann::json& value, std::uint32_t& target) {
  target = toUnsigned32(value);
}
inline void convert(const nlohmann::json& value, std::optional<std::string>& target) {
  if (!value.is_null()) {
    target = value.get<std::string>();
  }
}
inline void convert(const nlohmann::json& value, NonEmptyText& target) {
  target.value = !value.is_null() && !value.get<std::string>().empty();
}
template <typename T>
void convert(const nlohmann::json& value, T& target) {
  value.get_to(target);
}

// The record made from an object of a parsed document, in the order of Record::fields; raises the
// library's error for a member that is missing or of the wrong type.
template <typename Record>
Record recordOf(const nlohmann::json& object) {
  Record record{};
  bool chainEnded = false;
  for (const Field<Record>& field : Record::fields) {
    const std::string key(field.key);
    chainEnded = chainEnded || (field.chained && !object.contains(key));
    if (!key.empty() && !(field.chained && chainEnded)) {
      std::visit([&](auto member) { convert(object.at(key), record.*member); }, field.member);
    }
  }
  return record;
}

// The JSON library takes a NUL byte for the end of its input and would accept "123\0junk" as
// 123; a NUL byte has no place in a JSON text, so a text holding one is not JSON.
inline bool holdsNul(std::string_view text) {
  return text.find('\0') != std::string::npos;
}

// How deeply arrays and objects may stand inside one another in a document that is read whole:
// far beyond any record, and low enough that writing the document out, which recurses once per
// level, cannot exhaust the stack.
inline constexpr std::size_t kMaxNesting = 1000;

// Whether the text opens more than kMaxNesting arrays and objects inside one another (brackets
// inside strings do not count). One pass, no allocation.
bool nestedTooDeep(std::string_view text);

// The whole text parsed as one JSON document; nothing when it is not JSON: a syntax error, a
// number too large to hold (which the library reports as out of range), a NUL byte, anything but
// white space after the value, or nesting deeper than kMaxNesting.
std::optional<nlohmann::json> parseText(std::string_view text);

enum class ReadResult { Records, NotJson, WrongShape };

// Reads the text as an array of records the JSON library's way: the whole document, then each
// record converted. Nothing is added to records unless the result is ReadResult::Records.
template <typename Record>
ReadResult readDocument(std::string_view text, std::deque<Record>& records) {
  const std::optional<nlohmann::json> document = parseText(text);
  if (!document) {
    return ReadResult::NotJson;
  }
  try {
    for (const nlohmann::json& object : document->get_ref<const nlohmann::json::array_t&>()) {
      records.push_back(recordOf<Record>(object));
    }
  } catch (const nlohmann::json::exception&) {
    records.clear();
    return ReadResult::WrongShape;
  }
  return ReadResult::Records;
}

// Reads the text as an array of records and, once all are read, hands each to use(Record&&) in
// order; nothing is handed over unless the result is ReadResult::Records. Spare: the readable
// bytes that follow the text (fast_json.h).
template <typename Record, typename Use>
ReadResult readRecords(std::string_view text, Use use, std::size_t spare = 0) {
  static const std::vector<std::string_view> keys = [] {
    std::vector<std::string_view> names;
    for (const Field<Record>& field : Record::fields) {
      names.push_back(field.key);
    }
    return names;
  }();
  static const std::vector<bool> textLists = [] {
    std::vector<bool> lists;
    for (const Field<Record>& field : Record::fields) {
      lists.push_back(std::holds_alternative<std::vector<std::string> Record::*>(field.member));
    }
    return lists;
  }();
  std::vector<MemberValue> members(Record::fields.size());
  // Kept in blocks: a large list grows without copying what it holds.
  std::deque<Record> records;
  const auto take = [&] {
    try {
      records.push_back(makeRecord<Record>(members));
      return true;
    } catch (const ShapeError&) {
      return false;
    }
  };
  if (!fast::readObjects(text, spare, keys, textLists, members, take)) {
    records.clear();
    const ReadResult result = readDocument<Record>(text, records);
    if (result != ReadResult::Records) {
      return result;
    }
  }
  for (Record& record : records) {
    use(std::move(record));
  }
  return ReadResult::Records;
}

}  // namespace korv::cli::api
