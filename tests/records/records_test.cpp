// What a record read from a list answer prints (its keys, their order, its values), and which
// objects are refused. That the reading agrees with the JSON library's is list_reading_test's.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "alert-templates/alert_template.h"
#include "api/record_stream.h"
#include "probes/probe.h"

namespace korv::cli {
namespace {

using nlohmann::json;

// The object with the change's members in place of its own and without the key removed, read
// and printed as the list commands do; "refused" when reading refuses it.
template <typename Record>
std::string listed(json object, const char* change, const char* removed = "") {
  object.update(json::parse(change));
  object.erase(removed);
  std::vector<Record> records;
  const std::string text = "[" + object.dump() + "]";
  if (api::readRecordArray<Record>(text, records) != api::ReadResult::Records) {
    return "refused";
  }
  std::string line;
  api::appendCompact(line, records.at(0));
  return line;
}

const json kProbe = json::parse(R"({"platform":"linux","name":"cpu \"hot\" é","lifetime":30,
    "level":"server","is_system_probe":false,"interval":60,"internal_name":"cpu_int","id":7,
    "enabled":true,"discard_history":false,"sql":"select 1","zeta":[1,2]})");

const json kTemplate = json::parse(R"({"id":12,"name":"CPU \"hot\" é","description":"Busy CPU",
    "is_system_template":false,"object_type":"server","is_auto_create":true,
    "probe_dependency_list":["cpu","load"],"default_check_frequency":5,
    "default_history_retention":30,"operator":">","low_threshold_value":"10",
    "medium_threshold_value":null,"high_threshold_value":"30","info_sql":"select 1",
    "server_type":"pg","unit":"%","show_details":false,"extra":{"a":1}})");

TEST(ProbeRecord, PrintsItsTenKeysInOrderAndIsRefusedWithoutOneOrWithAValueOfTheWrongType) {
  EXPECT_EQ(listed<Probe>(kProbe, "{}"),
            R"({"id":7,"name":"cpu \"hot\" é","internal_name":"cpu_int","level":"server",)"
            R"("platform":"linux","enabled":true,"interval":60,"lifetime":30,)"
            R"("discard_history":false,"is_system_probe":false})");
  for (const char* key : {"id", "name", "internal_name", "level", "platform", "enabled", "interval",
                          "lifetime", "discard_history", "is_system_probe"}) {
    EXPECT_EQ(listed<Probe>(kProbe, "{}", key), "refused") << key;
  }
  for (const char* change :
       {R"({"enabled":1})", R"({"is_system_probe":"false"})", R"({"name":7})", R"({"level":null})",
        R"({"id":"7"})", R"({"interval":null})", R"({"lifetime":[]})"}) {
    EXPECT_EQ(listed<Probe>(kProbe, change), "refused") << change;
  }
}

TEST(AlertTemplateRecord, PrintsTheShortKeysInOrderAndIsRefusedWithoutAKeyOtherThanTheThreshold) {
  // The server's "description", "server_type", "unit" and "show_details" are not printed.
  EXPECT_EQ(listed<AlertTemplate>(kTemplate, "{}"),
            R"({"id":12,"name":"CPU \"hot\" é","object_type":"server","server_type":"",)"
            R"("auto_create":true,"is_system_template":false,"show_details":true,)"
            R"("probe_depenencies":["cpu","load"],"check_frequency":5,"history_retention":30,)"
            R"("threshold":{"operator":">","low":"10","medium":null,"high":"30"}})");
  for (const char* key : {"id", "name", "description", "is_system_template", "object_type",
                          "is_auto_create", "probe_dependency_list", "default_check_frequency",
                          "default_history_retention", "info_sql"}) {
    EXPECT_EQ(listed<AlertTemplate>(kTemplate, "{}", key), "refused") << key;
  }
  for (const char* change :
       {R"({"operator":10})", R"({"low_threshold_value":10})", R"({"high_threshold_value":1})",
        R"({"info_sql":1})", R"({"description":null})", R"({"is_auto_create":"true"})",
        R"({"probe_dependency_list":"cpu"})", R"({"probe_dependency_list":["cpu",1]})",
        R"({"id":"12"})", R"({"default_check_frequency":null})"}) {
    EXPECT_EQ(listed<AlertTemplate>(kTemplate, change), "refused") << change;
  }
}

TEST(AlertTemplateRecord, ShowsDetailsForANonEmptyInfoSqlAndReadsTheThresholdUpToItsFirstGap) {
  const struct {
    const char* change;
    const char* removed;
    const char* printed;  // the end of the printed record
  } cases[] = {
      {R"({"info_sql":null})", "", R"("show_details":false)"},
      {R"({"info_sql":""})", "", R"("show_details":false)"},
      {R"({"info_sql":" "})", "", R"("show_details":true)"},
      {"{}", "operator", R"({"operator":"","low":null,"medium":null,"high":null}})"},
      {R"({"low_threshold_value":""})", "medium_threshold_value",
       R"({"operator":">","low":"","medium":null,"high":null}})"},
      {R"({"medium_threshold_value":"20"})", "high_threshold_value",
       R"({"operator":">","low":"10","medium":"20","high":null}})"},
      // What follows the gap is not read, so its type does not matter.
      {R"({"medium_threshold_value":10,"high_threshold_value":true})", "low_threshold_value",
       R"({"operator":">","low":null,"medium":null,"high":null}})"},
  };
  for (const auto& c : cases) {
    const std::string printed = listed<AlertTemplate>(kTemplate, c.change, c.removed);
    EXPECT_NE(printed.find(c.printed), std::string::npos) << c.change << " " << printed;
  }
}

}  // namespace
}  // namespace korv::cli
