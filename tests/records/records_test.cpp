// The records of the list answers: what they print (keys, order, values), and that reading them
// as the list commands do accepts, refuses and prints exactly what the whole document converted
// with the JSON library gives, for every variation of a record.
#include <gtest/gtest.h>

#include "alert-templates/alert_template.h"
#include "probes/probe.h"
#include "tests/records/list_oracle.h"

namespace korv::test {
namespace {

using cli::api::kMaxNesting;

const std::string kProbe =
    R"({"platform":"linux","name":"cpu \"hot\" é","lifetime":30,"level":"server",)"
    R"("is_system_probe":false,"interval":60,"internal_name":"cpu_int","id":7,"enabled":true,)"
    R"("discard_history":false,"sql":"select 1","zeta":[1,2]})";
// A member of every kind of field (the threshold's are chained), and some never read.
const std::string kTemplate =
    R"({"id":12,"name":"High CPU","description":"d","is_system_template":false,)"
    R"("object_type":"server","is_auto_create":true,"probe_dependency_list":["cpu","io"],)"
    R"("default_check_frequency":5,"default_history_retention":30,"operator":">",)"
    R"("low_threshold_value":"10","medium_threshold_value":null,"high_threshold_value":"30",)"
    R"("info_sql":" ","server_type":"pg","show_details":false,"extra":{"a":1}})";

// The list commands print the keys of the field table in its order, the threshold's in a group
// of their own. (The probes' are pinned by the tests of the list commands.)
TEST(ListedAlertTemplates, PrintTheirKeysInTheirOrderWithTheirValues) {
  std::vector<cli::AlertTemplate> records;
  EXPECT_EQ(readRecordArray("[" + kTemplate + "]", records), ReadResult::Records);
  // The server's "description", "server_type" and "show_details" are not printed.
  EXPECT_EQ(printAll(records),
            R"({"id":12,"name":"High CPU","object_type":"server","server_type":"",)"
            R"("auto_create":true,"is_system_template":false,"show_details":true,)"
            R"("probe_depenencies":["cpu","io"],"check_frequency":5,"history_retention":30,)"
            R"("threshold":{"operator":">","low":"10","medium":null,"high":"30"}})"
            "\n");
}

// Values of every kind, to put in place of a member's value.
const char* const kReplacements[] = {"null", "true", "false", "0", "-1", "4294967295", "4294967296",
                                     "18446744073709551615", "1.9", "-0.5", "1e99", "-1e99", "\"\"",
                                     "\"text\"",
                                     // Every character the printer escapes, and some it must not.
                                     R"("\u0000\u0001\u001f\b\f\n\r\t\"\\\/\u007f\u2028 é😀")", "[]",
                                     "[\"a\"]", "[\"a\",1]", "[[\"a\"]]", "{}", "{\"a\":[1]}"};

// The record twice; each member replaced by each value, repeated before or after itself with each
// value (the last one counts), and removed.
template <typename Record>
void ExpectAgreementOnEveryVariationOf(const std::string& record) {
  std::vector<std::string> variations = {record + "," + record};
  const nlohmann::ordered_json members = nlohmann::ordered_json::parse(record);
  for (const auto& member : members.items()) {
    const std::string key = "\"" + member.key() + "\":";
    const std::string original = key + member.value().dump();
    const size_t at = record.find(original);
    for (const char* replacement : kReplacements) {
      const std::string other = key + replacement;
      variations.push_back(std::string(record).replace(at, original.size(), other));
      variations.push_back(std::string(record).insert(at, other + ","));
      variations.push_back(std::string(record).insert(at + original.size(), "," + other));
    }
    const bool last = record[at + original.size()] == '}';
    variations.push_back(std::string(record).erase(last ? at - 1 : at, original.size() + 1));
  }
  for (const std::string& variation : variations) {
    EXPECT_EQ(disagreement<Record>("[" + variation + "]"), "") << variation;
  }
}

TEST(ListReading, AgreesWithTheDocumentForEveryVariationOfARecord) {
  ExpectAgreementOnEveryVariationOf<cli::Probe>(kProbe);
  ExpectAgreementOnEveryVariationOf<cli::AlertTemplate>(kTemplate);
}

TEST(ListReading, RefusesNestingBeyondTheLimitButNotBracketsInsideStrings) {
  const std::string nested = std::string(kMaxNesting, '[') + std::string(kMaxNesting, ']');
  const std::pair<std::string, bool> texts[] = {
      {nested, true},
      {"[" + nested + "]", false},
      {"{\"a\":" + nested + "}", false},
      {"[\"\\\"" + std::string(kMaxNesting + 1, '[') + "\"]", true},
      {"[\"\\\\\"," + nested + "]", false},
      {std::string("[]\0junk", 7), false}};
  for (const auto& [text, accepted] : texts) {
    EXPECT_EQ(cli::api::parseText(text).has_value(), accepted) << text.substr(0, 20) << text.size();
    std::vector<cli::Probe> records;
    EXPECT_EQ(readRecordArray(text, records) != ReadResult::NotJson, accepted);
  }
}

// The fast way takes the plain case of each document it reads, and lists with fractions, so that
// large ones do not fall back to the slow way unnoticed. (That it agrees with the slow way is the
// fuzz targets' job.)
TEST(FastWay, TakesAPlainListExportImportFileAndImportAnswer) {
  namespace fast = cli::api::fast;
  std::vector<cli::api::MemberValue> members(1);
  int used = 0;
  const std::string list = "[" + kProbe + R"( , {"id":0.5,"zeta":[1e3]}])";
  EXPECT_TRUE(fast::readObjects(list, 0, {"id"}, {false}, members, [&] {
    used += !members[0].IsMissing();
    return true;
  }));
  EXPECT_EQ(used, 2);
  const std::string file = "{\"version\":\"11.0\",\"probes\":[" + kProbe + "]}";
  std::string exported;
  EXPECT_TRUE(fast::compactExport(file, 0, "probes", [&](std::string_view b) { exported += b; }));
  EXPECT_EQ(exported, nlohmann::json::parse(file).dump());
  fast::ImportRequest request;
  EXPECT_TRUE(request.Prepare(file, "probes", {{"skip_overwrite", false}}));
  EXPECT_TRUE(fast::importVerdicts(R"({"result":[{"name":"p","status":"created","msg":null}]})", 0,
                                   [](const fast::Verdict&) {}));
}

}  // namespace
}  // namespace korv::test
