// The records that the list commands read from the server and print: what they accept, what they
// refuse, and exactly what they write.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "alert-templates/alert_template.h"
#include "probes/probe.h"

namespace korv::cli {
namespace {

using nlohmann::json;
using nlohmann::ordered_json;
using ::testing::HasSubstr;

// What the JSON library raised while a step ran; an empty kind when it raised nothing.
struct Raised {
  std::string kind;
  int id = 0;
  std::string what;
};

template <typename Step>
Raised RaisedBy(Step&& step) {
  try {
    step();
  } catch (const json::type_error& error) {
    return {"type_error", error.id, error.what()};
  } catch (const json::out_of_range& error) {
    return {"out_of_range", error.id, error.what()};
  }
  return {};
}

// The record read from the server's object, written as the list command prints it.
template <typename Record>
std::string Printed(const json& source) {
  return ordered_json(source.get<Record>()).dump();
}

// ---------------------------------------------------------------------------------------------
// Probes

json ServerProbe() {
  return json::parse(R"({"platform":"linux","name":"cpu \"hot\" é","lifetime":30,"level":"server",
      "is_system_probe":false,"interval":60,"internal_name":"cpu_int","id":7,"enabled":true,
      "discard_history":false,"sql":"select 1","zeta":[1,2]})");
}

constexpr char kPrintedProbe[] =
    R"({"id":7,"name":"cpu \"hot\" é","internal_name":"cpu_int","level":"server",)"
    R"("platform":"linux","enabled":true,"interval":60,"lifetime":30,"discard_history":false,)"
    R"("is_system_probe":false})";

TEST(ProbeRecord, WritesTheTenKeysInTheirOrderAndDropsTheOthers) {
  EXPECT_EQ(Printed<Probe>(ServerProbe()), kPrintedProbe);
  // Written again, the dropped keys do not come back.
  ordered_json written = ServerProbe().get<Probe>();
  EXPECT_EQ(written.size(), 10u);
  EXPECT_FALSE(written.contains("sql"));
}

TEST(ProbeRecord, RequiresEveryKeyAndNamesTheMissingOne) {
  for (const char* key : {"id", "name", "internal_name", "level", "platform", "enabled", "interval",
                          "lifetime", "discard_history", "is_system_probe"}) {
    json source = ServerProbe();
    source.erase(key);
    const Raised raised = RaisedBy([&] { source.get<Probe>(); });
    EXPECT_EQ(raised.kind, "out_of_range") << key;
    EXPECT_EQ(raised.id, 403) << key;
    EXPECT_THAT(raised.what, HasSubstr(std::string("key '") + key + "' not found"));
  }
}

TEST(ProbeRecord, RefusesValuesOfTheWrongTypeNullIncluded) {
  const std::pair<const char*, json> cases[] = {
      {"enabled", nullptr},
      {"enabled", 1},
      {"is_system_probe", "false"},
      {"discard_history", 0},
      {"name", 7},
      {"level", nullptr},
      {"id", "7"},
      {"interval", nullptr},
      {"lifetime", json::array()},
  };
  for (const auto& [key, value] : cases) {
    json source = ServerProbe();
    source[key] = value;
    const Raised raised = RaisedBy([&] { source.get<Probe>(); });
    EXPECT_EQ(raised.kind, "type_error") << key << " = " << value;
    EXPECT_EQ(raised.id, 302) << key << " = " << value;
  }
  EXPECT_THAT(RaisedBy([] {
                json source = ServerProbe();
                source["enabled"] = nullptr;
                source.get<Probe>();
              }).what,
              HasSubstr("type must be boolean, but is null"));
  EXPECT_EQ(RaisedBy([] { json::array({1}).get<Probe>(); }).kind, "type_error");
  EXPECT_EQ(RaisedBy([] { json::object().get<std::vector<Probe>>(); }).kind, "type_error");
}

TEST(ProbeRecord, ReadsNumbersAsTheLibraryDoesButRefusesFloatingValuesOutOfRange) {
  json source = ServerProbe();
  source["id"] = true;
  source["interval"] = 1.9;
  source["lifetime"] = false;
  Probe probe = source.get<Probe>();
  EXPECT_EQ(probe.id, 1u);
  EXPECT_EQ(probe.interval, 1u);
  EXPECT_EQ(probe.lifetime, 0u);

  source["interval"] = -0.5;
  source["lifetime"] = 4294967295.0;
  probe = source.get<Probe>();
  EXPECT_EQ(probe.interval, 0u);
  EXPECT_EQ(probe.lifetime, 4294967295u);

  for (const double value : {1e99, -1e99, 4294967296.0, -1.0}) {
    for (const char* key : {"id", "interval", "lifetime"}) {
      json faulty = ServerProbe();
      faulty[key] = value;
      const Raised raised = RaisedBy([&] { faulty.get<Probe>(); });
      EXPECT_EQ(raised.kind, "out_of_range") << key << " = " << value;
    }
  }
}

TEST(ProbeCategories, AreOneMapOfTheThreeUpperCaseNames) {
  const auto& categories = getProbeCategoryMap();
  EXPECT_EQ(&categories, &getProbeCategoryMap());
  ASSERT_EQ(categories.size(), 3u);
  EXPECT_EQ(static_cast<int>(categories.at("SYSTEM")), 0);
  EXPECT_EQ(static_cast<int>(categories.at("CUSTOM")), 1);
  EXPECT_EQ(static_cast<int>(categories.at("ALL")), 2);
  EXPECT_EQ(categories.find("custom"), categories.end());
}

// ---------------------------------------------------------------------------------------------
// Alert templates

json ServerTemplate() {
  return json::parse(R"({"id":12,"name":"CPU \"hot\" é","description":"Alerts on a busy CPU",
      "is_system_template":false,"object_type":"server","is_auto_create":true,
      "probe_dependency_list":["cpu","load"],"default_check_frequency":5,
      "default_history_retention":30,"operator":">","low_threshold_value":"10",
      "medium_threshold_value":null,"high_threshold_value":"30","info_sql":"select 1",
      "server_type":"pg","unit":"%","show_details":false,"extra":{"a":1}})");
}

constexpr char kPrintedTemplate[] =
    R"({"id":12,"name":"CPU \"hot\" é","object_type":"server","server_type":"",)"
    R"("auto_create":true,"is_system_template":false,"show_details":true,)"
    R"("probe_depenencies":["cpu","load"],"check_frequency":5,"history_retention":30,)"
    R"("threshold":{"operator":">","low":"10","medium":null,"high":"30"}})";

// The written threshold of the template read from the source.
std::string PrintedThreshold(const json& source) {
  return ordered_json(source.get<AlertTemplate>()).at("threshold").dump();
}

TEST(AlertTemplateRecord, WritesTheShortKeysInTheirFixedOrderAndNothingElse) {
  // Neither "description", "info_sql", the server's "server_type" and "unit" nor unknown keys are
  // written; the threshold values move into their own object.
  EXPECT_EQ(Printed<AlertTemplate>(ServerTemplate()), kPrintedTemplate);
  const AlertTemplate record = ServerTemplate().get<AlertTemplate>();
  EXPECT_EQ(record.description, "Alerts on a busy CPU");
  EXPECT_EQ(record.server_type, "");
  EXPECT_EQ(record.threshold.unit, "");
}

TEST(AlertTemplateRecord, ShowsDetailsOnlyForAnInfoSqlThatIsANonEmptyText) {
  const std::pair<json, bool> cases[] = {
      {nullptr, false}, {"", false}, {" ", true}, {"select 1", true}};
  for (const auto& [infoSql, shown] : cases) {
    json source = ServerTemplate();
    source["info_sql"] = infoSql;
    EXPECT_EQ(source.get<AlertTemplate>().show_details, shown) << infoSql;
  }
  json source = ServerTemplate();
  source["info_sql"] = 1;
  EXPECT_EQ(RaisedBy([&] { source.get<AlertTemplate>(); }).id, 302);
}

TEST(AlertTemplateRecord, StopsReadingTheThresholdAtTheFirstMissingKey) {
  const std::vector<std::string> thresholdKeys = {"operator", "low_threshold_value",
                                                  "medium_threshold_value", "high_threshold_value"};
  // Which threshold keys the server sent, and the threshold written for them.
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{}, R"({"operator":"","low":null,"medium":null,"high":null})"},
      {{"operator", "high_threshold_value"},
       R"({"operator":">","low":null,"medium":null,"high":null})"},
      {{"operator", "low_threshold_value", "high_threshold_value"},
       R"({"operator":">","low":"10","medium":null,"high":null})"},
      {{"low_threshold_value", "medium_threshold_value", "high_threshold_value"},
       R"({"operator":"","low":null,"medium":null,"high":null})"},
      {{"operator", "low_threshold_value", "medium_threshold_value"},
       R"({"operator":">","low":"10","medium":"20","high":null})"},
  };
  for (const auto& [sent, written] : cases) {
    json source = ServerTemplate();
    source["medium_threshold_value"] = "20";
    for (const std::string& key : thresholdKeys) {
      if (std::find(sent.begin(), sent.end(), key) == sent.end()) {
        source.erase(key);
      }
    }
    EXPECT_EQ(PrintedThreshold(source), written) << source.dump();
  }
}

TEST(AlertTemplateRecord, KeepsAnEmptyThresholdTextApartFromNone) {
  json source = ServerTemplate();
  source["operator"] = "";
  source["low_threshold_value"] = "";
  source["high_threshold_value"] = nullptr;
  EXPECT_EQ(PrintedThreshold(source), R"({"operator":"","low":"","medium":null,"high":null})");

  Threshold threshold;
  threshold.op = "<=";
  threshold.unit = "%";
  threshold.medium = std::make_shared<std::string>("");
  EXPECT_EQ(ordered_json(threshold).dump(),
            R"({"operator":"<=","low":null,"medium":"","high":null,"unit":"%"})");
}

TEST(AlertTemplateRecord, RefusesAThresholdValueThatIsNotATextOnceItIsRead) {
  for (const char* key :
       {"operator", "low_threshold_value", "medium_threshold_value", "high_threshold_value"}) {
    json source = ServerTemplate();
    source[key] = 10;
    const Raised raised = RaisedBy([&] { source.get<AlertTemplate>(); });
    EXPECT_EQ(raised.kind, "type_error") << key;
    EXPECT_EQ(raised.id, 302) << key;
    EXPECT_THAT(raised.what, HasSubstr("type must be string, but is number")) << key;
  }
  // Values after the first missing key are not read, so their type does not matter.
  json source = ServerTemplate();
  source.erase("low_threshold_value");
  source["medium_threshold_value"] = 10;
  source["high_threshold_value"] = true;
  EXPECT_EQ(PrintedThreshold(source), R"({"operator":">","low":null,"medium":null,"high":null})");
}

TEST(AlertTemplateRecord, RequiresEveryKeyButTheThresholdsAndNamesTheMissingOne) {
  for (const char* key : {"id", "name", "description", "is_system_template", "object_type",
                          "is_auto_create", "probe_dependency_list", "default_check_frequency",
                          "default_history_retention", "info_sql"}) {
    json source = ServerTemplate();
    source.erase(key);
    const Raised raised = RaisedBy([&] { source.get<AlertTemplate>(); });
    EXPECT_EQ(raised.kind, "out_of_range") << key;
    EXPECT_EQ(raised.id, 403) << key;
    EXPECT_THAT(raised.what, HasSubstr(std::string("key '") + key + "' not found"));
  }
}

TEST(AlertTemplateRecord, RefusesOtherValuesOfTheWrongTypeNullIncluded) {
  const std::pair<const char*, json> cases[] = {
      {"name", nullptr},
      {"description", nullptr},
      {"object_type", 3},
      {"is_system_template", nullptr},
      {"is_system_template", 1},
      {"is_auto_create", "true"},
      {"probe_dependency_list", "cpu"},
      {"probe_dependency_list", json::array({"cpu", 1})},
      {"probe_dependency_list", nullptr},
      {"id", "12"},
      {"default_check_frequency", nullptr},
  };
  for (const auto& [key, value] : cases) {
    json source = ServerTemplate();
    source[key] = value;
    const Raised raised = RaisedBy([&] { source.get<AlertTemplate>(); });
    EXPECT_EQ(raised.kind, "type_error") << key << " = " << value;
    EXPECT_EQ(raised.id, 302) << key << " = " << value;
  }
  EXPECT_EQ(RaisedBy([] { json(12).get<AlertTemplate>(); }).kind, "type_error");
}

TEST(AlertTemplateRecord, ReadsNumbersAsTheLibraryDoesButRefusesFloatingValuesOutOfRange) {
  json source = ServerTemplate();
  source["id"] = true;
  source["default_check_frequency"] = 2.7;
  source["default_history_retention"] = false;
  const AlertTemplate record = source.get<AlertTemplate>();
  EXPECT_EQ(record.id, 1u);
  EXPECT_EQ(record.check_frequency, 2u);
  EXPECT_EQ(record.history_retention, 0u);

  for (const char* key : {"id", "default_check_frequency", "default_history_retention"}) {
    json faulty = ServerTemplate();
    faulty[key] = 1e99;
    EXPECT_EQ(RaisedBy([&] { faulty.get<AlertTemplate>(); }).kind, "out_of_range") << key;
  }
}

TEST(AlertTemplateRecord, ConvertsAnArrayInItsOrderAndRefusesAnythingElse) {
  json second = ServerTemplate();
  second["id"] = 3;
  second["is_system_template"] = true;
  const auto records = json::array({ServerTemplate(), second}).get<std::vector<AlertTemplate>>();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].id, 12u);
  EXPECT_EQ(records[1].id, 3u);
  EXPECT_TRUE(records[1].is_system_template);
  EXPECT_TRUE(json::array().get<std::vector<AlertTemplate>>().empty());

  EXPECT_EQ(RaisedBy([] { ServerTemplate().get<std::vector<AlertTemplate>>(); }).kind,
            "type_error");
  EXPECT_EQ(RaisedBy([] {
              json::array({ServerTemplate(), 1}).get<std::vector<AlertTemplate>>();
            }).kind,
            "type_error");
}

TEST(AlertTemplateCategories, AreOneMapOfTheThreeUpperCaseNames) {
  const auto& categories = getAlertTemplateCategoryMap();
  EXPECT_EQ(&categories, &getAlertTemplateCategoryMap());
  ASSERT_EQ(categories.size(), 3u);
  EXPECT_EQ(static_cast<int>(categories.at("SYSTEM")), 0);
  EXPECT_EQ(static_cast<int>(categories.at("CUSTOM")), 1);
  EXPECT_EQ(static_cast<int>(categories.at("ALL")), 2);
  EXPECT_EQ(categories.find("custom"), categories.end());
}

}  // namespace
}  // namespace korv::cli
