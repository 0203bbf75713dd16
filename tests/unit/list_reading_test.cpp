// A list answer is read straight from the parser's events; what is accepted, rejected and printed
// must be exactly what a whole document converted with from_json gives.
#include <dirent.h>

#include <gtest/gtest.h>

#include "alert-templates/alert_template.h"
#include "probes/probe.h"
#include "tests/support/list_oracle.h"
#include "tests/support/temp_dir.h"

namespace korv::test {
namespace {

template <typename Reader>
void expectSameReading(const std::string& text) {
  const ListOutcome events = readFromEvents<Reader>(text);
  const ListOutcome document = readFromDocument<Reader>(text);
  EXPECT_EQ(describe(events.result), describe(document.result)) << text.substr(0, 300);
  EXPECT_EQ(events.printed, document.printed) << text.substr(0, 300);
}

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

// Texts made from a record by replacing, removing and repeating each member in turn.
std::vector<std::string> variations(const std::string& record) {
  const nlohmann::ordered_json base = nlohmann::ordered_json::parse(record);
  std::vector<std::string> texts = {"[" + record + "]", "[" + record + "," + record + "]"};
  for (const auto& member : base.items()) {
    const std::string key = "\"" + member.key() + "\":";
    const std::string original = key + member.value().dump();
    const size_t at = record.find(original);
    for (const char* replacement : kReplacements) {
      std::string changed = record;
      changed.replace(at, original.size(), key + replacement);
      texts.push_back("[" + changed + "]");
      // The same member twice: the last one counts.
      std::string twice = record;
      twice.insert(at, key + replacement + ",");
      texts.push_back("[" + twice + "]");
      twice = record;
      twice.insert(at + original.size(), "," + key + replacement);
      texts.push_back("[" + twice + "]");
    }
    std::string removed = record;
    const bool last = record[at + original.size()] == '}';
    removed.erase(last ? at - 1 : at, original.size() + 1);
    texts.push_back("[" + removed + "]");
  }
  return texts;
}

TEST(ListReading, AgreesWithTheDocumentForEveryVariationOfAProbe) {
  for (const auto& text : variations(kProbe)) {
    expectSameReading<cli::ProbeReader>(text);
  }
}

TEST(ListReading, AgreesWithTheDocumentForEveryVariationOfAnAlertTemplate) {
  for (const auto& text : variations(kTemplate)) {
    expectSameReading<cli::AlertTemplateReader>(text);
  }
  // Thresholds are read up to the first that is missing, so what follows is never judged.
  for (const char* thresholds :
       {R"("high_threshold_value":10)", R"("operator":">","medium_threshold_value":1)",
        R"("operator":">","low_threshold_value":null)", R"("low_threshold_value":[])"}) {
    std::string text = kTemplate;
    const size_t from = text.find(R"("operator")");
    const size_t to = text.find(R"("info_sql")");
    text.replace(from, to - from, std::string(thresholds) + ",");
    expectSameReading<cli::AlertTemplateReader>("[" + text + "]");
  }
}

TEST(ListReading, AgreesWithTheDocumentOnTextsThatAreNotListsOfRecords) {
  for (const char* text :
       {"", " ", "[]", " [ ] ", "{}", "null", "1", "\"a\"", "[1]", "[[]]", "[{}]", "[{},1]",
        "[] []", "[],", "[{\"id\":1}", "[\"\\u00\"]", "[\xff]",
        "[{\"probe_dependency_list\":[\"a\",{\"b\":[\"c\"]}],\"x\":{\"y\":{\"z\":[]}}}]"}) {
    expectSameReading<cli::ProbeReader>(text);
    expectSameReading<cli::AlertTemplateReader>(text);
  }
  // The JSON library takes a NUL byte for the end of the text; both ways refuse it.
  const std::string nul("[]\0junk", 7);
  EXPECT_EQ(readFromEvents<cli::ProbeReader>(nul).result, cli::api::ReadResult::NotJson);
  expectSameReading<cli::ProbeReader>(nul);
}

TEST(ListReading, AgreesWithTheDocumentOnEveryParserTestFile) {
  const std::string dir = std::string(KORV_TEST_DATA) + "/JSONTestSuite/test_parsing";
  DIR* stream = ::opendir(dir.c_str());
  ASSERT_NE(stream, nullptr) << dir;
  int files = 0;
  while (const dirent* entry = ::readdir(stream)) {
    const std::string name = entry->d_name;
    if (name.size() > 5 && name.substr(name.size() - 5) == ".json") {
      const std::string text = ReadFile(dir + "/" + name);
      SCOPED_TRACE(name);
      expectSameReading<cli::ProbeReader>(text);
      expectSameReading<cli::AlertTemplateReader>(text);
      ++files;
    }
  }
  ::closedir(stream);
  EXPECT_EQ(files, 318);
}

}  // namespace
}  // namespace korv::test
