// A list answer is read straight from the parser's events; what is accepted, refused and printed
// must be exactly what the whole document converted with the JSON library gives, for every
// variation of a record. Other texts are the list-answer fuzz target's seed corpus.
#include <gtest/gtest.h>

#include "alert-templates/alert_template.h"
#include "probes/probe.h"
#include "tests/support/list_oracle.h"

namespace korv::test {
namespace {

const std::string kProbe =
    R"({"id":7,"name":"cpu","internal_name":"cpu_load","level":"server","platform":"linux",)"
    R"("enabled":true,"interval":60,"lifetime":30,"discard_history":false,"is_system_probe":false})";

const std::string kTemplate =
    R"({"id":12,"name":"High CPU","description":"d","is_system_template":false,)"
    R"("object_type":"server","is_auto_create":true,"probe_dependency_list":["cpu","io"],)"
    R"("default_check_frequency":5,"default_history_retention":30,"operator":">",)"
    R"("low_threshold_value":"10","medium_threshold_value":null,"high_threshold_value":"30",)"
    R"("info_sql":"select 1"})";

// Values of every kind, to put in place of a member's value.
const char* const kReplacements[] = {"null", "true", "false", "0", "-1", "4294967296",
                                     "18446744073709551615", "1.9", "-0.5", "1e99", "-1e99", "\"\"",
                                     "\"text\"",
                                     // Every character the printer escapes, and some it must not.
                                     R"("\u0000\u0001\u001f\b\f\n\r\t\"\\\/\u007f\u2028 é😀")", "[]",
                                     "[\"a\"]", "[\"a\",1]", "[[\"a\"]]", "{}", "{\"a\":[1]}"};

template <typename Record>
void expectSameReading(const std::string& record) {
  const ListOutcome events = readFromEvents<Record>("[" + record + "]");
  const ListOutcome document = readFromDocument<Record>("[" + record + "]");
  EXPECT_EQ(events.result, document.result) << record;
  EXPECT_EQ(events.printed, document.printed) << record;
}

// The record twice, and with each member in turn replaced by each value, repeated before or
// after itself with each value (the last one counts), and removed.
template <typename Record>
void expectSameReadingOfEveryVariation(const std::string& record) {
  expectSameReading<Record>(record + "," + record);
  const nlohmann::ordered_json members = nlohmann::ordered_json::parse(record);
  for (const auto& member : members.items()) {
    const std::string key = "\"" + member.key() + "\":";
    const std::string original = key + member.value().dump();
    const size_t at = record.find(original);
    for (const char* replacement : kReplacements) {
      const std::string other = key + replacement;
      expectSameReading<Record>(std::string(record).replace(at, original.size(), other));
      expectSameReading<Record>(std::string(record).insert(at, other + ","));
      expectSameReading<Record>(std::string(record).insert(at + original.size(), "," + other));
    }
    const bool last = record[at + original.size()] == '}';
    expectSameReading<Record>(std::string(record).erase(last ? at - 1 : at, original.size() + 1));
  }
}

TEST(ListReading, AgreesWithTheDocumentForEveryVariationOfAProbeAndOfAnAlertTemplate) {
  expectSameReadingOfEveryVariation<cli::Probe>(kProbe);
  expectSameReadingOfEveryVariation<cli::AlertTemplate>(kTemplate);
}

TEST(ListReading, RefusesANulByteThatTheJsonLibraryWouldTakeForTheEnd) {
  EXPECT_EQ(readFromEvents<cli::Probe>(std::string("[]\0junk", 7)).result, ReadResult::NotJson);
}

}  // namespace
}  // namespace korv::test
