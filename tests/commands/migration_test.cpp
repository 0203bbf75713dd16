// The main job: moving custom probes and alert templates from one server to another, with the
// built korv-cli between two running korv-standin servers.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tests/support/cli_test.h"
#include "tests/support/standin.h"

namespace korv::test {
namespace {

class Migration : public CliTest, public ::testing::WithParamInterface<bool> {
 protected:
  // The records a list command printed, without their ids (which each server gives anew), by
  // name.
  std::map<std::string, nlohmann::json> Listed(const std::string& url, const std::string& command) {
    const ProcessResult result = RunAgainst(url, {command});
    EXPECT_EQ(result.status, 0) << result.err;
    std::map<std::string, nlohmann::json> records;
    for (auto record : nlohmann::json::parse(result.out)) {
      record.erase("id");
      records[record.at("name").get<std::string>()] = record;
    }
    return records;
  }
  ProcessResult Step(const std::string& url, std::vector<std::string> args) {
    ProcessResult result = RunAgainst(url, std::move(args));
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    return result;
  }
};

TEST_P(Migration, MovesEveryCustomProbeAndTemplateToTheOtherServer) {
  const bool tls = GetParam();
  const Standin source(home / "source.json", true, tls);
  const Standin target(home / "target.json", false, tls);
  ASSERT_TRUE(Listed(target.Url(), "list-probes").empty());

  Step(source.Url(), {"export-probes", "-o", home / "probes.json"});
  Step(source.Url(), {"export-alert-templates", "-o", home / "templates.json"});
  const ProcessResult probes = Step(target.Url(), {"import-probes", "-i", home / "probes.json"});
  EXPECT_EQ(probes.out.rfind("Probe Name, Status, Reason\n==========, ======, ======\n", 0), 0u)
      << probes.out;
  Step(target.Url(), {"import-alert-templates", "-i", home / "templates.json"});

  for (const char* command : {"list-probes", "list-alert-templates"}) {
    const auto moved = Listed(source.Url(), command);
    EXPECT_FALSE(moved.empty()) << command;
    EXPECT_EQ(Listed(target.Url(), command), moved) << command;
  }

  // A second import changes nothing when told to keep what is there.
  const ProcessResult again =
      Step(target.Url(), {"import-probes", "--ignore-existing", "-i", home / "probes.json"});
  EXPECT_NE(again.out.find(", skipped, "), std::string::npos) << again.out;
  EXPECT_EQ(Listed(target.Url(), "list-probes"), Listed(source.Url(), "list-probes"));
}

INSTANTIATE_TEST_SUITE_P(OverHttpAndHttps, Migration, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Https" : "Http"; });

}  // namespace
}  // namespace korv::test
