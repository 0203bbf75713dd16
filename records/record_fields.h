// The one description of a kind of record: a table of its fields, saying for each where the server
// keeps it, what type it has and where it is printed. The list reader (record_stream.h) and the
// printer below follow the table, so a field is added or changed in one place.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "records/compact_json.h"

namespace korv::cli::api {

// A flag that says whether the server's member, a text or null, is a non-empty text.
struct NonEmptyText {
  bool value = false;
};

template <typename Record>
struct Field {
  // The type of the member says what the server's value must be: an unsigned 32-bit number, a
  // boolean, a text, a text or null, an array of texts, or a text or null (NonEmptyText).
  using Member = std::variant<std::uint32_t Record::*, bool Record::*, std::string Record::*,
                              std::optional<std::string> Record::*,
                              std::vector<std::string> Record::*, NonEmptyText Record::*>;

  std::string_view key;      // the server's key; "" for a field never read (it keeps its default)
  std::string_view printed;  // the key it is printed with; "" for a field never printed
  Member member;
  // A chained field may be missing: chained fields are read in table order up to the first that
  // is missing, and those after it are not read at all. Any other field must be there.
  bool chained = false;
  std::string_view printedIn = "";  // the nested object it is printed in; "" for the record
};

template <typename T>
void appendValue(std::string& out, const T& value) {
  compact::value(out, value);
}
inline void appendValue(std::string& out, const NonEmptyText& flag) {
  compact::value(out, flag.value);
}

// Appends the record in the JSON library's compact form: its printed fields in table order, those
// printed in the same nested object together.
template <typename Record>
void appendCompact(std::string& out, const Record& record) {
  std::string_view group;
  bool first = true;
  for (const Field<Record>& field : Record::fields) {
    if (field.printed.empty()) {
      continue;
    }
    if (group != field.printedIn) {
      if (!group.empty()) {
        out += '}';
      }
      group = field.printedIn;
      if (!group.empty()) {
        compact::key(out, field.printedIn, first);
        first = true;
      }
    }
    compact::key(out, field.printed, first);
    first = false;
    std::visit([&](auto member) { appendValue(out, record.*member); }, field.member);
  }
  out += group.empty() ? "}" : "}}";
}

}  // namespace korv::cli::api
