// The offline check of an export file: what an import of it would be refused for, or would trip
// on item by item, found without a server.
#pragma once

#include <array>
#include <ostream>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "exchange/commands.h"
#include "records/record_fields.h"

namespace korv::cli::api {

// The type a field's value must have.
enum class FieldType { Count, Flag, Text, TextOrNull, TextList };

struct FieldRule {
  std::string_view key;
  FieldType type;
};

// The rules of a record's field table: one for each field the server's record holds, with the
// type its member reads.
template <typename Record>
std::vector<FieldRule> fieldRules() {
  // In the order of Field::Member's alternatives.
  constexpr std::array<FieldType, 6> types{FieldType::Count,    FieldType::Flag,
                                           FieldType::Text,     FieldType::TextOrNull,
                                           FieldType::TextList, FieldType::TextOrNull};
  static_assert(std::variant_size_v<typename Field<Record>::Member> == types.size());
  std::vector<FieldRule> rules;
  for (const Field<Record>& field : Record::fields) {
    if (!field.key.empty()) {
      rules.push_back({field.key, types.at(field.member.index())});
    }
  }
  return rules;
}

// Gives the kind's items the rules of its record's field table, made when a check needs them.
// The library that defines the record calls it from a static object (FieldRulesOf), before main
// runs, when the tables may not be made yet.
using MakeRules = std::vector<FieldRule> (*)();
void setFieldRules(const Kind& kind, MakeRules make);

template <typename Record>
struct FieldRulesOf {
  explicit FieldRulesOf(const Kind& kind) { setFieldRules(kind, &fieldRules<Record>); }
};

// Reads the file as the kind's import does, raising the same errors for a file it cannot use, and
// prints what else is wrong with it as a table: a header, an underline, then "<name>, <problem>"
// per problem, the file's own problems first (named by the file), then the items' in the file's
// order, each carried probe named "Probe '<name>'". Besides what the import refuses, it finds
// items without a name, duplicate names, fields of the wrong type (by the rules given for the
// kind and for probes) and a version that is not numbers with dots ("11.0"). A dependency of an
// item on a probe that the file does not carry is printed as a note: the server may have the
// probe. Control characters are escaped. Nothing is printed for a clean file. With json the
// problems are a result for programs instead (see result.h), each item with "name", "kind"
// ("file" for the file's own), "problem" and "note". Returns whether a problem (not a note) was
// found.
bool checkFile(const Kind& kind, ImportSource& source, std::ostream& out, bool json, const Log& log,
               const Place& place);

}  // namespace korv::cli::api
