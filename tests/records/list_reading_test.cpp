// A list answer is read straight from the parser's events; what is accepted, refused and printed
// must be exactly what the whole document converted with the JSON library gives, for every
// variation of a record. Other texts are the list-answer fuzz target's seed corpus.
#include <gtest/gtest.h>

#include "alert-templates/alert_template.h"
#include "tests/records/list_oracle.h"

namespace korv::test {
namespace {

using cli::AlertTemplate;

// A member of every kind of field (the threshold's are chained).
const std::string kTemplate =
    R"({"id":12,"name":"High CPU","description":"d","is_system_template":false,)"
    R"("object_type":"server","is_auto_create":true,"probe_dependency_list":["cpu","io"],)"
    R"("default_check_frequency":5,"default_history_retention":30,"operator":">",)"
    R"("low_threshold_value":"10","medium_threshold_value":null,"high_threshold_value":"30",)"
    R"("info_sql":"select 1"})";

// Values of every kind, to put in place of a member's value.
const char* const kReplacements[] = {"null", "true", "false", "0", "-1", "4294967295", "4294967296",
                                     "18446744073709551615", "1.9", "-0.5", "1e99", "-1e99", "\"\"",
                                     "\"text\"",
                                     // Every character the printer escapes, and some it must not.
                                     R"("\u0000\u0001\u001f\b\f\n\r\t\"\\\/\u007f\u2028 é😀")", "[]",
                                     "[\"a\"]", "[\"a\",1]", "[[\"a\"]]", "{}", "{\"a\":[1]}"};

TEST(ListReading, AgreesWithTheDocumentForEveryVariationOfARecord) {
  // The record twice; each member replaced by each value, repeated before or after itself with
  // each value (the last one counts), and removed.
  std::vector<std::string> records = {kTemplate + "," + kTemplate};
  const nlohmann::ordered_json members = nlohmann::ordered_json::parse(kTemplate);
  for (const auto& member : members.items()) {
    const std::string key = "\"" + member.key() + "\":";
    const std::string original = key + member.value().dump();
    const size_t at = kTemplate.find(original);
    for (const char* replacement : kReplacements) {
      const std::string other = key + replacement;
      records.push_back(std::string(kTemplate).replace(at, original.size(), other));
      records.push_back(std::string(kTemplate).insert(at, other + ","));
      records.push_back(std::string(kTemplate).insert(at + original.size(), "," + other));
    }
    const bool last = kTemplate[at + original.size()] == '}';
    records.push_back(std::string(kTemplate).erase(last ? at - 1 : at, original.size() + 1));
  }
  for (const std::string& record : records) {
    EXPECT_EQ(disagreement<AlertTemplate>("[" + record + "]"), "") << record;
  }
}

TEST(ListReading, RefusesANulByteThatTheJsonLibraryWouldTakeForTheEnd) {
  std::vector<AlertTemplate> records;
  EXPECT_EQ(cli::api::readRecordArray(std::string("[]\0junk", 7), records), ReadResult::NotJson);
}

}  // namespace
}  // namespace korv::test
