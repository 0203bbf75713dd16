// Seeing what an import would change (diff-*) and taking it back (import-* --backup), with the
// built korv-cli between two running korv-standin servers.
#include <gtest/gtest.h>

#include <map>
#include <regex>

#include <nlohmann/json.hpp>

#include "tests/support/cli_test.h"

namespace korv::test {
namespace {

using nlohmann::json;

// Probes or alert templates, and what their diff lists: the source's custom items, and the
// probes the templates carry.
struct Kind {
  bool probes;
  std::string name = probes ? "probes" : "alert-templates";             // in the subcommand names
  std::string key = probes ? "probes" : "alert_templates";              // of the export file
  std::string field = probes ? "interval" : "default_check_frequency";  // one the tests change
  std::size_t rows = probes ? 3 : 5;
  std::vector<std::string> ignoreAll =
      probes ? std::vector<std::string>{"--ignore-existing"}
             : std::vector<std::string>{"--ignore-existing", "--ignore-existing-probes"};
};
void PrintTo(const Kind& kind, std::ostream* out) {
  *out << kind.name;
}

class ImportPreview : public CliTest, public ::testing::WithParamInterface<Kind> {
 protected:
  Standin source{
      {"--data", home / "source.json", "--user", "admin:secret", "--with-custom-samples"}};
  Standin target{{"--data", home / "target.json", "--user", "admin:secret"}};
  const std::string file = home / "export.json";
  const Kind& kind = GetParam();

  void SetUp() override { ASSERT_EQ(Cli(source, "export", {"-o", file}).status, 0); }
  ProcessResult Cli(const Standin& server, const std::string& verb, std::vector<std::string> args) {
    args.insert(args.begin(), verb + "-" + kind.name);
    return RunAgainst(server.Url(), std::move(args));
  }
  // The diff's output against the target without the rows that end in the change given.
  std::string Diff(std::vector<std::string> args, int status, const std::string& change = "") {
    args.insert(args.end(), {"-i", file});
    const ProcessResult result = Cli(target, "diff", std::move(args));
    EXPECT_EQ(result.status, status) << result.err;
    return std::regex_replace(result.out, std::regex(".*, " + change + ", .*\n"), "");
  }
  // Every custom item of the target, templates and probes alike.
  std::string TargetState() {
    return RunAgainst(target.Url(), {"list-probes"}).out +
           RunAgainst(target.Url(), {"list-alert-templates"}).out;
  }
};

TEST_P(ImportPreview, DiffShowsWhatTheImportWouldChangeAndChangesNothing) {
  const std::string header = "Name, Change, Detail\n====, ======, ======\n";
  EXPECT_EQ(Lines(Diff({}, 3, "none")).size(), kind.rows + 2);
  EXPECT_EQ(Diff({}, 3, "new"), header);
  EXPECT_EQ(TargetState(), "[]\n[]\n");
  ASSERT_EQ(Cli(target, "import", {"-i", file}).status, 0);
  EXPECT_EQ(Diff({}, 0, "unchanged"), header);
  json document = json::parse(ReadFile(file));
  json& items = document.at(kind.key);
  const std::string first = items.front().at("name"), last = items.back().at("name");
  items.front()[kind.field] = 999;
  items.erase(items.size() - 1);
  WriteFile(file, document.dump());
  const std::string serverOnly = last + ", server only, left alone by the import\n";
  EXPECT_EQ(Diff({}, 3, "unchanged"),
            header + first + ", changed, " + kind.field + "\n" + serverOnly);
  EXPECT_EQ(Diff(kind.ignoreAll, 0, "skipped"), header + serverOnly);
}

TEST_P(ImportPreview, ImportingTheBackupPutsBackWhatTheImportOverwrote) {
  ASSERT_EQ(Cli(target, "import", {"-i", file}).status, 0);
  const std::string imported = TargetState();
  // Every item changes, the probes that the templates carry too.
  const std::regex fields("\"(interval|" + kind.field + ")\":[0-9]+");
  WriteFile(file, std::regex_replace(ReadFile(file), fields, "\"$1\":999"));
  const std::string backup = home / "backup.json";
  ASSERT_EQ(Cli(target, "import", {"-i", file, "--backup", backup}).status, 0);
  EXPECT_NE(TargetState(), imported);
  // It holds the probes too, for import-probes (those the templates carry, for alert templates).
  EXPECT_NE(json::parse(ReadFile(backup)).value("probes", json::array()), json::array());
  ASSERT_EQ(Cli(target, "import", {"-i", backup}).status, 0);
  EXPECT_EQ(TargetState(), imported);

  // A backup that exists already or cannot be written: nothing is imported.
  EXPECT_EQ(Showing(Cli(target, "import", {"-i", file, "--backup", backup})),
            (Shown{4, "", "Output file '" + backup + "' already exists\n"}));
  EXPECT_EQ(Cli(target, "import", {"-i", file, "--backup", home / "missing/backup.json"}).status,
            4);
  EXPECT_EQ(TargetState(), imported);

  // An import that overwrites nothing backs up nothing.
  std::vector<std::string> keep = {"-i", file, "--backup", home / "empty.json"};
  keep.insert(keep.end(), kind.ignoreAll.begin(), kind.ignoreAll.end());
  ASSERT_EQ(Cli(target, "import", keep).status, 0);
  const json nothing = json::parse(ReadFile(home / "empty.json"));
  EXPECT_EQ(nothing.at(kind.key), json::array());
  EXPECT_EQ(nothing.value("probes", json::array()), json::array());
}

INSTANTIATE_TEST_SUITE_P(ProbesAndAlertTemplates, ImportPreview,
                         ::testing::Values(Kind{true}, Kind{false}),
                         [](const auto& info) { return info.param.key; });

}  // namespace
}  // namespace korv::test
