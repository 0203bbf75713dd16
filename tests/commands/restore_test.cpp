// The built korv-cli restoring a migrate's record into a running korv-standin: what the migrate
// overwrote comes back, what it created is named, and a record that cannot be used changes nothing.
#include <sys/stat.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>

#include "tests/support/cli_test.h"

namespace korv::test {
namespace {

using ::testing::EndsWith;

class Restore : public CliTest {
 protected:
  Standin target{{"--data", home / "target.json", "--user", "admin:secret"}};

  ProcessResult Cli(const Standin& server, std::vector<std::string> args) {
    return RunAgainst(server.Url(), std::move(args));
  }
};

// Of the custom samples, the target has the templates starting with "O" and "N", changed, with
// the probes they carry; the migrate creates the others.
TEST_F(Restore, PutsBackWhatTheMigrateOverwroteAndNamesWhatItCreated) {
  Standin source{
      {"--data", home / "source.json", "--user", "admin:secret", "--with-custom-samples"}};
  const std::string file = home / "templates.json", record = home / "record";
  ASSERT_EQ(Cli(source, {"export-alert-templates", "-o", file, "--name", "[ON]*"}).status, 0);
  WriteFile(file, std::regex_replace(ReadFile(file),
                                     std::regex("\"(interval|default_check_frequency)\":[0-9]+"),
                                     "\"$1\":999"));
  ASSERT_EQ(Cli(target, {"import-alert-templates", "-i", file}).status, 0);
  const auto prepared = [&] {
    return Cli(target, {"export-alert-templates", "--name", "[ON]*"}).out;
  };
  const std::string before = prepared();
  std::filesystem::create_directories(home / ".config/korv-cli");
  WriteFile(home / "pw", "secret\n");
  WriteFile(
      home / ".config/korv-cli/config.toml",
      "[servers.old]\nurl = '" + source.Url() + "'\n[servers.new]\nurl = '" + target.Url() + "'\n");
  environment = {"KORV_API_USER=admin", "KORV_PASSWORD_FILE=" + home / "pw"};
  ASSERT_EQ(Run({"migrate", "--from", "old", "--to", "new", "--dir", record}).status, 0);
  ASSERT_NE(prepared(), before);
  const ProcessResult restored = Run({"restore", "--to", "new", "--dir", record});
  EXPECT_EQ(restored.status, 0) << restored.err;
  EXPECT_THAT(restored.out,
              EndsWith("Nightly Batch Overrun, overwritten, Probe 'Nightly Batch Duration' "
                       "overwritten\nCreated by the migration; a restore does not remove them:\n"
                       "Probe 'Stale Invoices'\nAlert template 'Session Surge'\n"));
  EXPECT_EQ(prepared(), before);
}

// Each record in a directory of its own, "0" to "5"; "5" is not made.
TEST_F(Restore, RefusesARecordThatCannotBeUsedBeforeAnyChangeAndEndsWithFiveWhenAnItemFailed) {
  const std::string probe = R"({"internal_name":"p","interval":60,"level":"L","name":"p",)"
                            R"("platform":"Any"})";
  const std::string probes = R"({"probes":[)" + probe + R"(],"version":"11.0"})";
  const std::string none =
      "The record holds no result.json; the items the migration created are not known.\n";
  const std::string table = "Probe Name, Status, Reason\n==========, ======, ======\n";
  const std::pair<std::map<std::string, std::string>, Shown> cases[] = {
      {{{"probes.json", probes}, {"alert-templates.json", "{}"}},
       {105, "",
        "'" + home / "0" +
            "' holds no backup-probes.json or backup-alert-templates.json (a dry run writes "
            "none); nothing to restore.\n"}},
      {{{"backup-probes.json", probes}, {"result.json", R"({"items":[{"name":"p"}]})"}},
       {4, "",
        "'" + home / "1/result.json" +
            "' is not the result of a migration; "
            "nothing was restored.\n"}},
      {{{"backup-probes.json", probes}, {"backup-alert-templates.json", "["}},
       {4, "", "Input file is not a valid alert template file.\n"}},
      {{{"backup-probes.json", R"({"probes":[],"version":"11.0"})"},
        {"backup-alert-templates.json", R"({"alert_templates":[],"probes":[],"version":"11.0"})"}},
       {0, none, ""}},
      {{{"backup-probes.json", std::regex_replace(probes, std::regex("60"), "\"x\"")}},
       {5,
        "Import of the probes:\n" + table +
            "p, failed, Member 'interval' must be an unsigned 32-bit integer\n" + none,
        ""}},
      {{},
       {105, "",
        "'" + home / "5" +
            "' is not a directory; name the record directory of a "
            "migrate.\n"}}};
  int run = 0;
  for (const auto& [files, shown] : cases) {
    const std::string record = home / std::to_string(run++);
    for (const auto& [name, content] : files) {
      std::filesystem::create_directory(record);
      WriteFile(record + "/" + name, content);
    }
    EXPECT_EQ(Showing(Cli(target, {"restore", "--dir", record})), shown);
    EXPECT_EQ(Cli(target, {"list-probes"}).out, "[]\n");
  }
  // A record file that is no plain file is refused, not read: a FIFO would wait for a writer.
  std::filesystem::remove(home / "1/result.json");
  ASSERT_EQ(::mkfifo((home / "1/result.json").c_str(), 0600), 0);
  EXPECT_EQ(
      Showing(Cli(target, {"restore", "--dir", home / "1"})),
      (Shown{4, "",
             "'" + home / "1/result.json" + "' is not a plain file; nothing was restored.\n"}));
  // A migrate of the templates alone overwrites probes through the templates it creates: they
  // are in the templates' backup only.
  WriteFile(home / "0/backup-alert-templates.json",
            R"({"alert_templates":[],"probes":[)" + probe + R"(],"version":"11.0"})");
  EXPECT_EQ(Showing(Cli(target, {"restore", "--dir", home / "0"})),
            (Shown{0, "Import of the probes:\n" + table + "p, created, created\n" + none, ""}));
}

}  // namespace
}  // namespace korv::test
