// The data file: what a new one holds, what a hand-made one may leave out, and which files are
// refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "standin_test_support.h"
#include "store.h"

namespace korv::standin::test {
namespace {

using nlohmann::json;

json parsed(const std::shared_ptr<const std::string>& text) {
  return json::parse(*text);
}

TEST(StandinStore, ANewDataFileHoldsTheSystemSamplesAndAnExistingOneGetsNoCustomOnesLater) {
  TempDir directory;
  Store plain(directory / "plain.json", false);
  const json probes = parsed(plain.probeList());
  const json templates = parsed(plain.templateList());
  EXPECT_GE(probes.size(), 8u);
  EXPECT_GE(templates.size(), 5u);
  for (const auto& probe : probes) {
    EXPECT_TRUE(probe.at("is_system_probe").get<bool>()) << probe.dump();
  }
  for (const auto& alertTemplate : templates) {
    EXPECT_TRUE(alertTemplate.at("is_system_template").get<bool>()) << alertTemplate.dump();
  }
  // The file reads back to the same records; custom samples only go into new files.
  Store reopened(directory / "plain.json", true);
  EXPECT_EQ(parsed(reopened.probeList()), probes);
}

TEST(StandinStore, AHandMadeFileMayLeaveOutNextIdAndTheTemplatesAndNewIdsFollowTheHighest) {
  TempDir directory;
  const std::string path = directory / "bench.json";
  json probes = json::array();
  for (const unsigned id : {7u, 40u, 3u}) {
    probes.push_back({{"id", id},
                      {"name", "Probe " + std::to_string(id)},
                      {"internal_name", "probe_" + std::to_string(id)},
                      {"level", "Database"},
                      {"platform", "Any"},
                      {"enabled", true},
                      {"interval", 60},
                      {"lifetime", 30},
                      {"discard_history", false},
                      {"is_system_probe", id == 3}});
  }
  WriteFile(path, json{{"probes", probes}}.dump(2));

  Store store(path, false);
  EXPECT_EQ(parsed(store.templateList()), json::array());
  const json result = store.importProbes(
      json::array(
          {{{"name", "New"}, {"internal_name", "new"}, {"level", "Server"}, {"platform", "Any"}}}),
      false);
  EXPECT_EQ(result[0].at("status"), "created");
  EXPECT_EQ(named(parsed(store.probeList()), "New").at("id"), 41);
  // The export of all custom probes leaves the system one out.
  EXPECT_EQ(store.exportProbes(json::array()).size(), 3u);
}

TEST(StandinStore, FilesThatAreNotDataFilesAreRefusedWithTheirProblem) {
  const json goodProbe = {{"id", 1},
                          {"name", "A"},
                          {"internal_name", "a"},
                          {"level", "x"},
                          {"platform", "Any"},
                          {"enabled", true},
                          {"interval", 60},
                          {"lifetime", 30},
                          {"discard_history", false},
                          {"is_system_probe", false}};
  json withoutLevel = goodProbe;
  withoutLevel.erase("level");
  json negativeInterval = goodProbe;
  negativeInterval["interval"] = -5;
  json otherId = goodProbe;
  otherId["id"] = 2;
  json otherName = goodProbe;
  otherName["name"] = "B";

  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", "is not JSON"},
      {"probes: []", "is not JSON"},
      {"[]", "not a JSON object"},
      {R"({"probes": {}})", "member 'probes' must be an array"},
      {json{{"probes", json::array({withoutLevel})}}.dump(), "probe 1: Missing member 'level'"},
      {json{{"probes", json::array({goodProbe, negativeInterval})}}.dump(),
       "probe 2: Member 'interval' must be an unsigned 32-bit integer"},
      {json{{"probes", json::array({goodProbe, otherName})}}.dump(), "id 1 is used twice"},
      {json{{"probes", json::array({goodProbe, otherId})}}.dump(), "the name 'A' is used twice"},
      {json{{"alert_templates", json::array({goodProbe})}}.dump(),
       "alert template 1: Missing member"},
      {json{{"next_id", "5"}}.dump(), "'next_id' must be an unsigned integer"},
  };
  for (const auto& [content, problem] : cases) {
    TempDir directory;
    const std::string path = directory / "data.json";
    WriteFile(path, content);
    try {
      Store store(path, false);
      ADD_FAILURE() << "accepted: " << content;
    } catch (const StoreError& e) {
      EXPECT_NE(std::string(e.what()).find(problem), std::string::npos)
          << "content: " << content << "\nmessage: " << e.what();
      EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
    // A refused file is left as it was.
    EXPECT_EQ(ReadFile(path), content);
  }
}

TEST(StandinStore, ADirectoryOrAnUnwritablePlaceIsNotADataFile) {
  TempDir directory;
  EXPECT_THROW(Store(directory.Path(), false), StoreError);
  EXPECT_THROW(Store(directory / "missing/data.json", false), StoreError);
}

}  // namespace
}  // namespace korv::standin::test
