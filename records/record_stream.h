// Reading a JSON array of records straight from the parser's events, without building a document
// first: a large list then costs little more memory than its text and its records.
//
// What is accepted, and what each record becomes, is what parsing the whole text as one
// document and converting each member the record's field table names with the JSON library
// gives: the text must be one JSON value, the value an array of objects, and each object must
// hold the members the record needs with the right types (a member given twice counts with its
// last value); other members are ignored.
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
#include "records/record_fields.h"

namespace korv::cli::api {

// A record member that is missing or of the wrong type.
struct ShapeError {};

// One member of a record as the parser reported it.
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

// Record has a field table, Record::fields (see record_fields.h).
template <typename Record>
class RecordArrayReader : public nlohmann::json_sax<nlohmann::json> {
 public:
  std::vector<Record> records;
  bool wrongShape = false;

  bool null() override {
    return Scalar([](MemberValue& v) { v.kind = MemberValue::Kind::Null; });
  }
  bool boolean(bool value) override {
    return Scalar([value](MemberValue& v) {
      v.kind = MemberValue::Kind::Boolean;
      v.boolean = value;
    });
  }
  bool number_integer(number_integer_t value) override {
    return Scalar([value](MemberValue& v) {
      v.kind = MemberValue::Kind::Integer;
      v.integer = value;
    });
  }
  bool number_unsigned(number_unsigned_t value) override {
    return Scalar([value](MemberValue& v) {
      v.kind = MemberValue::Kind::Unsigned;
      v.unsignedInteger = value;
    });
  }
  bool number_float(number_float_t value, const string_t&) override {
    return Scalar([value](MemberValue& v) {
      v.kind = MemberValue::Kind::Float;
      v.floating = value;
    });
  }
  bool string(string_t& value) override {
    if (wrongShape) {
      return true;
    }
    if (depth == 3 && collecting) {
      members[current].texts.push_back(value);
      return true;
    }
    return Scalar([&value](MemberValue& v) {
      v.kind = MemberValue::Kind::Text;
      v.text.swap(value);
    });
  }
  bool binary(binary_t&) override {
    return Scalar([](MemberValue& v) { v.kind = MemberValue::Kind::Other; });
  }

  bool start_object(std::size_t) override { return Open(false); }
  bool end_object() override { return Close(); }
  bool start_array(std::size_t) override { return Open(true); }
  bool end_array() override { return Close(); }

  bool key(string_t& name) override {
    if (!wrongShape && depth == 2) {
      current = MemberIndex(name);
    }
    return true;
  }

  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return false;
  }

 private:
  // The member's place in the field table; -1 for a member that is not read.
  static int MemberIndex(std::string_view key) {
    for (std::size_t i = 0; i < Record::fields.size(); ++i) {
      if (!key.empty() && key == Record::fields[i].key) {
        return static_cast<int>(i);
      }
    }
    return -1;
  }

  // A value that is not a container, at the level where it stands.
  template <typename Set>
  bool Scalar(Set set) {
    if (wrongShape) {
      return true;
    }
    if (depth <= 1) {
      wrongShape = true;  // the whole text, or an element, that is not what it must be
    } else if (depth == 2) {
      if (current >= 0) {
        set(members[current]);
      }
    } else if (depth == 3 && collecting) {
      collecting = false;
      members[current].kind = MemberValue::Kind::Other;
    }
    return true;
  }

  bool Open(bool array) {
    if (wrongShape) {
      return true;
    }
    if (depth == 0 && !array) {
      wrongShape = true;  // the text must be an array
      return true;
    }
    if (depth == 1 && array) {
      wrongShape = true;  // each element must be an object
      return true;
    }
    if (depth == 1) {
      for (auto& member : members) {
        member.kind = MemberValue::Kind::Missing;
      }
    } else if (depth == 2 && current >= 0) {
      MemberValue& member = members[current];
      member.texts.clear();
      collecting = array && std::holds_alternative<std::vector<std::string> Record::*>(
                                Record::fields[current].member);
      member.kind = collecting ? MemberValue::Kind::TextList : MemberValue::Kind::Other;
    } else if (depth == 3 && collecting) {
      collecting = false;
      members[current].kind = MemberValue::Kind::Other;
    }
    ++depth;
    return true;
  }

  bool Close() {
    if (wrongShape) {
      return true;
    }
    --depth;
    if (depth == 2) {
      collecting = false;
    } else if (depth == 1) {
      try {
        records.push_back(makeRecord<Record>(members));
      } catch (const ShapeError&) {
        wrongShape = true;
        records.clear();
      }
    }
    return true;
  }

  int depth = 0;  // containers open: 1 in the array, 2 in a record, 3 in a member's value
  int current = -1;
  bool collecting = false;  // reading the texts of a text-list member
  std::vector<MemberValue> members = std::vector<MemberValue>(Record::fields.size());
};

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

// Reads the text as an array of records and, once all are read, hands each to use(Record&&) in
// order; nothing is handed over unless the result is ReadResult::Records. A text that parseText
// refuses is not JSON here either. Spare: the readable bytes that follow the text (fast_json.h).
template <typename Record, typename Use>
ReadResult readRecords(std::string_view text, Use use, std::size_t spare = 0) {
  // The fast way takes the plain case; the parser's events judge everything else.
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
  if (fast::readObjects(text, spare, keys, textLists, members, take)) {
    for (Record& record : records) {
      use(std::move(record));
    }
    return ReadResult::Records;
  }
  records = {};
  RecordArrayReader<Record> reader;
  if (holdsNul(text) || nestedTooDeep(text) ||
      !nlohmann::json::sax_parse(text, &reader, nlohmann::json::input_format_t::json, true,
                                 false)) {
    return ReadResult::NotJson;
  }
  if (reader.wrongShape) {
    return ReadResult::WrongShape;
  }
  for (Record& record : reader.records) {
    use(std::move(record));
  }
  return ReadResult::Records;
}

}  // namespace korv::cli::api
