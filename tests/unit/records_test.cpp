// The records read from a server's object with from_json: exactly what they print, and that a
// missing key or a value of the wrong type is refused. That the list commands, which read the
// parser's events, read and print the same is checked by list_reading_test.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "alert-templates/alert_template.h"
#include "probes/probe.h"

namespace korv::cli {
namespace {

using nlohmann::json;
using nlohmann::ordered_json;

// The record read from the server's object, written as the list command prints it.
template <typename Record>
std::string Printed(const json& source) {
  return ordered_json(source.get<Record>()).dump();
}

// Reading refuses the object without each of the keys, and with each of the members changed.
template <typename Record>
void ExpectRefused(const json& base, const std::vector<const char*>& required,
                   const std::vector<const char*>& changes) {
  for (const char* key : required) {
    json source = base;
    source.erase(key);
    EXPECT_THROW(source.get<Record>(), json::out_of_range) << "without " << key;
  }
  for (const char* change : changes) {
    json source = base;
    source.update(json::parse(change));
    EXPECT_THROW(source.get<Record>(), json::type_error) << change;
  }
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

TEST(ProbeRecord, PrintsTheTenKeysInTheirOrderAndNothingElse) {
  EXPECT_EQ(Printed<Probe>(kProbe),
            R"({"id":7,"name":"cpu \"hot\" é","internal_name":"cpu_int","level":"server",)"
            R"("platform":"linux","enabled":true,"interval":60,"lifetime":30,)"
            R"("discard_history":false,"is_system_probe":false})");
}

TEST(ProbeRecord, IsRefusedWithoutAKeyOrWithAValueOfTheWrongType) {
  ExpectRefused<Probe>(
      kProbe,
      {"id", "name", "internal_name", "level", "platform", "enabled", "interval", "lifetime",
       "discard_history", "is_system_probe"},
      {R"({"enabled":null})", R"({"enabled":1})", R"({"is_system_probe":"false"})", R"({"name":7})",
       R"({"level":null})", R"({"id":"7"})", R"({"interval":null})", R"({"lifetime":[]})"});
}

TEST(AlertTemplateRecord, PrintsTheShortKeysInTheirOrderAndNeitherDescriptionNorUnit) {
  // The server's "server_type", "unit" and "show_details" are not read.
  EXPECT_EQ(Printed<AlertTemplate>(kTemplate),
            R"({"id":12,"name":"CPU \"hot\" é","object_type":"server","server_type":"",)"
            R"("auto_create":true,"is_system_template":false,"show_details":true,)"
            R"("probe_depenencies":["cpu","load"],"check_frequency":5,"history_retention":30,)"
            R"("threshold":{"operator":">","low":"10","medium":null,"high":"30"}})");
}

TEST(AlertTemplateRecord, ShowsDetailsOnlyForAnInfoSqlThatIsANonEmptyText) {
  const std::pair<json, bool> cases[] = {
      {nullptr, false}, {"", false}, {" ", true}, {"select 1", true}};
  for (const auto& [infoSql, shown] : cases) {
    json source = kTemplate;
    source["info_sql"] = infoSql;
    EXPECT_EQ(source.get<AlertTemplate>().show_details, shown) << infoSql;
  }
}

TEST(AlertTemplateRecord, ReadsTheThresholdUpToTheFirstMissingKey) {
  // The threshold keys the server sent, and the threshold printed for them.
  const std::pair<const char*, const char*> cases[] = {
      {"{}", R"({"operator":"","low":null,"medium":null,"high":null})"},
      {R"({"operator":">","low_threshold_value":"","medium_threshold_value":null,
           "high_threshold_value":"30"})",
       R"({"operator":">","low":"","medium":null,"high":"30"})"},
      {R"({"operator":">","low_threshold_value":"10","high_threshold_value":"30"})",
       R"({"operator":">","low":"10","medium":null,"high":null})"},
      {R"({"operator":">","low_threshold_value":"10","medium_threshold_value":"20"})",
       R"({"operator":">","low":"10","medium":"20","high":null})"},
      {R"({"low_threshold_value":"10","medium_threshold_value":"20","high_threshold_value":"3"})",
       R"({"operator":"","low":null,"medium":null,"high":null})"},
      // What follows the first missing key is not read, so its type does not matter.
      {R"({"operator":"<","medium_threshold_value":10,"high_threshold_value":true})",
       R"({"operator":"<","low":null,"medium":null,"high":null})"},
  };
  for (const auto& [sent, printed] : cases) {
    json source = kTemplate;
    for (const char* key :
         {"operator", "low_threshold_value", "medium_threshold_value", "high_threshold_value"}) {
      source.erase(key);
    }
    source.update(json::parse(sent));
    EXPECT_EQ(ordered_json(source.get<AlertTemplate>()).at("threshold").dump(), printed) << sent;
  }
}

TEST(AlertTemplateRecord, IsRefusedWithoutAKeyOtherThanTheThresholdsOrWithAValueOfTheWrongType) {
  // A threshold value that is read must be a text or null.
  ExpectRefused<AlertTemplate>(
      kTemplate,
      {"id", "name", "description", "is_system_template", "object_type", "is_auto_create",
       "probe_dependency_list", "default_check_frequency", "default_history_retention", "info_sql"},
      {R"({"operator":10})", R"({"low_threshold_value":10})", R"({"medium_threshold_value":10})",
       R"({"high_threshold_value":10})", R"({"info_sql":1})", R"({"name":null})",
       R"({"is_system_template":1})", R"({"is_auto_create":"true"})",
       R"({"probe_dependency_list":"cpu"})", R"({"probe_dependency_list":["cpu",1]})",
       R"({"id":"12"})", R"({"default_check_frequency":null})"});
}

}  // namespace
}  // namespace korv::cli
