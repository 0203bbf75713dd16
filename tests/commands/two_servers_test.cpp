// The built korv-cli between two running korv-standin servers: seeing what an import would change
// (diff-*), taking it back (import-* --backup), and named servers with migrate between them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <regex>
#include <set>
#include <thread>

#include <nlohmann/json.hpp>

#include "tests/support/cli_test.h"

namespace korv::test {
namespace {

using nlohmann::json;
using ::testing::AllOf;
using ::testing::ContainsRegex;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;
using Flags = std::vector<std::string>;

// Probes or alert templates, and what their diff lists: the source's custom items, and the
// probes the templates carry.
struct Kind {
  bool probes;
  std::string name = probes ? "probes" : "alert-templates";             // in the subcommand names
  std::string key = probes ? "probes" : "alert_templates";              // of the export file
  std::string field = probes ? "interval" : "default_check_frequency";  // one the tests change
  std::size_t rows = probes ? 3 : 5;
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
  const std::string rows = std::to_string(kind.rows);
  EXPECT_EQ(Lines(Diff({}, 3, "none")).size(), kind.rows + 3);
  EXPECT_EQ(Diff({}, 3, "new"), header + rows + " new\n");
  EXPECT_EQ(TargetState(), "[]\n[]\n");
  ASSERT_EQ(Cli(target, "import", {"-i", file}).status, 0);
  EXPECT_EQ(Diff({}, 0, "unchanged"), header + rows + " unchanged\n");
  WriteFile(file, std::regex_replace(ReadFile(file),
                                     std::regex("\"(interval|" + kind.field + ")\":[0-9]+"),
                                     "\"$1\":999"));
  EXPECT_THAT(Diff({}, 3), AllOf(ContainsRegex(", changed, " + kind.field + " [0-9]+ \u2192 999\n"),
                                 EndsWith("\n" + rows + " changed\n")));
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

  // A backup that exists already: nothing is imported.
  EXPECT_EQ(Showing(Cli(target, "import", {"-i", file, "--backup", backup})),
            (Shown{4, "", "Output file '" + backup + "' already exists\n"}));
  EXPECT_EQ(TargetState(), imported);
}

// An alert template is imported even when a probe it carries fails: the probe's verdict is among
// the template's notes.
TEST_P(ImportPreview, StrictImportEndsWithFiveWhenAnItemOrAProbeItCarriesFailed) {
  ASSERT_EQ(Cli(target, "import", {"-i", file, "--strict"}).status, 0);
  WriteFile(file, std::regex_replace(ReadFile(file), std::regex("\"interval\":[0-9]+"),
                                     "\"interval\":\"x\""));
  const ProcessResult loose = Cli(target, "import", {"-i", file});
  EXPECT_EQ(loose.status, 0);
  EXPECT_THAT(loose.out, HasSubstr(kind.probes ? ", failed, " : ", overwritten, Probe '"));
  EXPECT_EQ(Showing(Cli(target, "import", {"-i", file, "--strict"})), (Shown{5, loose.out, ""}));
}

// Of the custom samples, one probe and one template each start with "N", "O" and "S"; the
// template "Nightly Batch Overrun" carries the probe "Nightly Batch Duration".
TEST_P(ImportPreview, NamePatternsPickTheItemsToExportImportAndCompare) {
  const std::string picked = home / "picked.json", none = home / "none.json";
  ASSERT_EQ(Cli(source, "export", {"-o", picked, "--name", "N*", "--name", "Nightly*"}).status, 0);
  json expected = json::parse(ReadFile(file));
  json& items = expected[kind.key];
  items.erase(
      std::remove_if(items.begin(), items.end(),
                     [](const json& item) { return item["name"].get<std::string>()[0] != 'N'; }),
      items.end());
  EXPECT_EQ(ReadFile(picked), expected.dump());

  const std::string refused =
      "No " + std::string(kind.probes ? "probe" : "alert template") + " matches 'X\\n'.\n";
  EXPECT_EQ(Showing(Cli(source, "export", {"-o", none, "--name", "N*", "--name", "X\n"})),
            (Shown{4, "", refused}));
  EXPECT_FALSE(std::filesystem::exists(none));
  EXPECT_EQ(Showing(Cli(target, "import", {"-i", file, "--name", "N*", "--name", "X\n"})),
            (Shown{4, "", refused}));
  EXPECT_EQ(TargetState(), "[]\n[]\n");

  const ProcessResult imported = Cli(target, "import", {"-i", file, "--name", "N*"});
  EXPECT_EQ(imported.status, 0) << imported.err;
  EXPECT_THAT(TargetState(), AllOf(HasSubstr("Nightly Batch Duration"), Not(HasSubstr("Orders"))));
  EXPECT_EQ(Lines(Diff({"--name", "N*"}, 0, "unchanged")).size(), 3u);

  // Server-only rows for the server's matching items only.
  const ProcessResult diff = Cli(source, "diff", {"-i", picked, "--name", "[NO]*"});
  EXPECT_EQ(diff.status, 0) << diff.err;
  EXPECT_THAT(diff.out, AllOf(ContainsRegex("Orders [A-Za-z ]+, server only"),
                              Not(ContainsRegex("Stale|Surge"))));
}

TEST_P(ImportPreview, JsonResultsGiveEveryItemItsExactNameAndKindAndKeepTheExitStatus) {
  // "<kind> <member>" of each item of a --json run's result, the names and the file's values of
  // the fields that differ.
  std::set<std::string> names, values;
  const auto items = [&](const std::string& verb, int status, const std::string& member) {
    const ProcessResult result = Cli(target, verb, {"-i", file, "--json"});
    EXPECT_EQ(result.status, status) << result.err;
    std::multiset<std::string> found;
    const json parsed = json::parse(result.out);
    for (const json& item : parsed.at("items")) {
      found.insert(item.at("kind").get<std::string>() + " " + item.at(member).dump());
      names.insert(item.at("name").get<std::string>());
      const json changed = item.value("values", json::object());
      for (const auto& field : changed.items()) {
        values.insert(field.value().at("file").dump());
      }
    }
    return found;
  };
  // The items of the file, then the probes that the templates carry.
  const auto expected = [&](const std::string& mine, const std::string& carried) {
    std::multiset<std::string> all;
    for (std::size_t i = 0; i < kind.rows; ++i) {
      all.insert(i < 3 ? (kind.probes ? "probe " : "alert-template ") + mine : "probe " + carried);
    }
    return all;
  };
  // A comma in a name breaks the table's columns, not the result.
  WriteFile(file, std::regex_replace(ReadFile(file), std::regex("Orders Queue"), "Orders, Queue"));
  EXPECT_EQ(items("diff", 3, "change"), expected("\"new\"", "\"new\""));
  EXPECT_EQ(names.count("Orders, Queue Depth"), 1u);
  EXPECT_EQ(items("check", 0, "problem").size(), kind.probes ? 0u : 2u) << "the templates' notes";
  EXPECT_EQ(items("import", 0, "status"), expected("\"created\"", "\"created\""));
  WriteFile(file, std::regex_replace(ReadFile(file),
                                     std::regex("\"(interval|" + kind.field + ")\":[0-9]+"),
                                     "\"$1\":999"));
  EXPECT_EQ(items("diff", 3, "fields"), expected("[\"" + kind.field + "\"]", "[\"interval\"]"));
  EXPECT_EQ(values, std::set<std::string>{"999"});
}

INSTANTIATE_TEST_SUITE_P(ProbesAndAlertTemplates, ImportPreview,
                         ::testing::Values(Kind{true}, Kind{false}),
                         [](const auto& info) { return info.param.key; });

class NamedServers : public CliTest {
 protected:
  // Servers "old" and "new" in the default configuration file, password "secret".
  void Configure(const std::string& oldUrl, const std::string& newUrl, const std::string& extra,
                 const std::string& newUser = "admin") {
    std::filesystem::create_directories(home / ".config/korv-cli");
    WriteFile(home / "pw", "secret\n");
    const std::string entry = "password-file = '~/pw'\nuser = '";
    WriteFile(home / ".config/korv-cli/config.toml",
              "[servers.old]\nurl = '" + oldUrl + "'\n" + entry + "admin'\n" + extra +
                  "[servers.new]\nurl = '" + newUrl + "'\ncacert = '" + Pki() / "ca.pem" + "'\n" +
                  entry + newUser + "'\n");
  }
  // Moves the custom items from "old" to "new", recording them in the directory given first.
  ProcessResult Migrate(Flags args) {
    args.insert(args.begin(), {"migrate", "--from", "old", "--to", "new", "--dir"});
    return Run(args);
  }

  Standin source{
      {"--data", home / "source.json", "--user", "admin:secret", "--with-custom-samples"}};
  Standin target{{"--data", home / "target.json", "--user", "admin:secret", "--tls-cert",
                  Pki() / "server.pem", "--tls-key", Pki() / "server.key"}};
};

TEST_F(NamedServers, TakeEachSettingFromTheOptionThenTheEntryThenTheVariable) {
  Configure("http://127.0.0.1:1/entry", "http://127.0.0.1:1/other", "");
  const std::string variable = "KORV_SERVER_URL=http://127.0.0.1:1/variable";
  // The arguments, the environment and where the login went.
  const std::tuple<Flags, Flags, std::string> cases[] = {
      {{"--server", "old"}, {variable}, "entry"},
      {{"--server", "old", "-p", "http://127.0.0.1:1/option"}, {variable}, "option"},
      {{}, {variable, "KORV_SERVER=old"}, "entry"},
      {{"--server", "new"}, {variable, "KORV_SERVER=old"}, "other"},
      {{"-u", "admin"}, {variable, "KORV_API_PASSWORD=secret"}, "variable"}};
  for (auto [args, variables, url] : cases) {
    environment = variables;
    args.push_back("list-probes");
    ::unlink(LogPath().c_str());
    EXPECT_EQ(Run(args).status, 105);
    EXPECT_THAT(Log(), HasSubstr("url: http://127.0.0.1:1/" + url + "/api/token/\n"));
  }
}

TEST_F(NamedServers, RefuseAnUnknownNameAnUnsafeFileAndBadEntriesNamingThem) {
  Configure("http://127.0.0.1:1/", "http://127.0.0.1:1/", "colour = 'red'\n");
  const std::string bad = home / ".config/korv-cli/config.toml", good = home / "good.toml";
  WriteFile(home / "wrong-type.toml", "[servers.x]\nurl = 'u'\n\nmax-time = 'soon'\n");
  WriteFile(home / "shared.toml", "", 0620);
  WriteFile(good, "[servers.a]\n[servers.b]\n");
  const std::tuple<std::string, std::string, int, std::string> cases[] = {
      {good, "c", 105, "Unknown server 'c'; '" + good + "' names: a, b."},
      {bad, "old", 110, "'" + bad + "', line 5: unknown key 'colour'."},
      {home / "wrong-type.toml", "x", 110, "line 4: 'max-time' must be a number of seconds."},
      {home / "shared.toml", "x", 103, "shared.toml' may be written by group or others"},
      {home.Path(), "x", 103, "'" + home.Path() + "' is not a plain file"},
      {home / "none.toml", "x", 103, "none.toml' is missing"}};
  for (const auto& [config, name, status, message] : cases) {
    const ProcessResult result = Run({"--config", config, "--server", name, "list-probes"});
    EXPECT_EQ(result.status, status) << result.err;
    EXPECT_THAT(result.err, HasSubstr(message));
  }
}

TEST_F(NamedServers, MigrateMovesEveryCustomItemKeepsTheRecordAndGivesBothTokensBack) {
  Configure(source.Url(), target.Url(), "");
  EXPECT_EQ(Migrate({home / "preview", "--dry-run"}).status, 3);
  const ProcessResult some = Migrate({home / "some", "--dry-run", "--name", "S*"});
  EXPECT_EQ(some.status, 3) << some.err;
  EXPECT_THAT(some.out, AllOf(HasSubstr("Stale Invoices, new"), HasSubstr("Session Surge, new"),
                              Not(HasSubstr("Orders"))));
  EXPECT_EQ(Showing(Migrate({home / "none", "--dry-run", "--name", "Q*"})),
            (Shown{4,
                   "Migration from 'old' to 'new' stopped at the choice of the items by name; "
                   "nothing was imported.\n",
                   "No probe or alert template matches 'Q*'.\n"}));
  EXPECT_FALSE(std::filesystem::exists(home / "none"));
  EXPECT_EQ(Migrate({home / "preview-again", "--dry-run"}).status, 3) << "nothing was imported";
  EXPECT_EQ(Entries(home / "preview"), (Flags{"alert-templates.json", "probes.json"}));
  ::unlink(LogPath().c_str());
  const ProcessResult moved = Migrate({home / "record"});
  EXPECT_EQ(moved.status, 0) << moved.err;
  EXPECT_THAT(moved.out, HasSubstr("Migrated from 'old' to 'new': 6 created."));
  EXPECT_EQ(Entries(home / "record").size(), 5u);
  std::multiset<std::string> statuses;
  const json result = json::parse(ReadFile(home / "record/result.json"));
  for (const json& item : result.at("items")) {
    statuses.insert(item.at("status").get<std::string>());
  }
  EXPECT_EQ(statuses.count("created"), 6u);
  const std::string log = Log();
  EXPECT_NE(log.find("Token released"), log.rfind("Token released")) << "both were given back";
  EXPECT_THAT(Migrate({home / "again"}).out, HasSubstr("'old' to 'new': 6 unchanged.\n"))
      << "what is on the target already is not sent again";
  const ProcessResult again = Migrate({home / "as-json", "--json"});
  EXPECT_EQ(json::parse(again.out).at("summary"), json({{"unchanged", 6}}));
  EXPECT_EQ(ReadFile(home / "as-json/result.json"), again.out);
  EXPECT_EQ(Migrate({home / "record", "--dry-run"}).status, 105);
  // The target refuses the login: the source's token is given back all the same.
  Configure(source.Url(), target.Url(), "", "intruder");
  ::unlink(LogPath().c_str());
  EXPECT_THAT(Showing(Migrate({home / "r"})).err, HasSubstr("User authentication failed."));
  EXPECT_THAT(Log(), HasSubstr("Token released.."));
  EXPECT_FALSE(std::filesystem::exists(home / "r")) << "the record it made, with nothing in it";
  std::filesystem::create_directory(home / "mine");
  EXPECT_EQ(Migrate({home / "mine"}).status, 105);
  EXPECT_TRUE(std::filesystem::exists(home / "mine")) << "a directory it did not make";
}

TEST_F(NamedServers, MigrateWithoutADirectoryTakesANameThatNoEarlierRunOfTheSameSecondHas) {
  Configure(source.Url(), target.Url(), "");
  // The names of the next seconds are taken already.
  std::set<std::string> taken;
  for (std::time_t second = std::time(nullptr); taken.size() < 5; ++second) {
    char name[64];
    std::strftime(name, sizeof name, "korv-migration-%Y%m%d-%H%M%S", std::gmtime(&second));
    std::filesystem::create_directory(home / name);
    taken.insert(name);
  }
  ProcessOptions options;
  options.args = {"-c",        "cd \"$0\" && exec \"$@\"",
                  home.Path(), KORV_CLI_PATH,
                  "migrate",   "--from",
                  "old",       "--to",
                  "new",       "--dry-run"};
  options.environment = {"HOME=" + home.Path(), "TZ=UTC"};
  EXPECT_EQ(test::Run("/bin/sh", options).status, 3);
  Flags made;
  for (const std::string& entry : Entries(home.Path())) {
    if (entry.rfind("korv-migration-", 0) == 0 && taken.count(entry) == 0) {
      made.push_back(entry);
    }
  }
  ASSERT_EQ(made.size(), 1u);
  EXPECT_THAT(made[0], EndsWith("-2"));
}

TEST_F(NamedServers, MigrateRefusesOneServerTwiceAndARecordPlaceThatIsNoEmptyDirectoryOfItsOwn) {
  const std::string one = "http://127.0.0.1:1/", other = "http://127.0.0.1:2/";
  WriteFile(home / "file", "");
  std::filesystem::create_symlink(home / "none", home / "dangling");
  std::filesystem::create_directory(home / "others");
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown((home / "others").c_str(), 65534, 65534), 0);
  }
  // The URLs of "old" and "new", the record directory and the refusal.
  const std::tuple<std::string, std::string, std::string, std::string> cases[] = {
      {"http://LocalHost:80/a", "localhost/a/", home / "r",
       "--from 'old' and --to 'new' name the same server ('localhost/a/' as user 'admin')"},
      {one, other, home / "file", "'" + home / "file" + "' is not a directory;"},
      {one, other, home / "dangling", "'" + home / "dangling" + "' is not a directory;"},
      {one, other, root ? home / "others" : home / "file", root ? "belongs to another user" : ""}};
  for (const auto& [oldUrl, newUrl, dir, refusal] : cases) {
    Configure(oldUrl, newUrl, "");
    const ProcessResult result = Migrate({dir});
    EXPECT_EQ(result.status, 105) << result.err;
    EXPECT_THAT(result.err, HasSubstr(refusal));
  }
  EXPECT_FALSE(std::filesystem::exists(home / "r"));
}

TEST_F(NamedServers, DataOfAnotherMajorVersionStopsThePreviewAndTheMigrationBeforeAnyChange) {
  Standin newer{{"--data", home / "newer.json", "--user", "admin:secret", "--api-versions",
                 "v11_api,v12_api"}};
  Configure(source.Url(), newer.Url(), "");
  const std::string refusal = "The data comes from server version 11.0 and the KORV Server at '" +
                              newer.Url() +
                              "' is version 12.0: it imports data of its own major version only.\n";
  const Shown stopped{4,
                      "Migration from 'old' to 'new' stopped at the comparison of the probes with "
                      "'new'; nothing was imported.\n",
                      refusal};
  // A dry run and a real one; the record is named first.
  for (const Flags& args : {Flags{home / "preview", "--dry-run"}, Flags{home / "record"}}) {
    Shown shown = stopped;
    shown.out = "Record directory: '" + args[0] + "'\n" + shown.out;
    EXPECT_EQ(Showing(Migrate(args)), shown);
  }
  EXPECT_EQ(Entries(home / "record"),
            (Flags{"alert-templates.json", "probes.json", "result.json"}));
  EXPECT_THAT(RunAgainst(newer.Url(), {"export-probes"}).out, HasSubstr("\"probes\":[]"));
  EXPECT_EQ(Showing(RunAgainst(newer.Url(), {"diff-probes", "-i", home / "record/probes.json"})),
            (Shown{4, "", refusal}));
}

TEST_F(NamedServers, IgnoreExistingKeepsTheCarriedProbesAndTheSummaryCountsThem) {
  // The target has one carried probe with another interval, and another as a system probe.
  json data = json::parse(ReadFile(home / "source.json"));
  for (json& probe : data.at("probes")) {
    if (probe.at("name") == "Orders Queue Depth") {
      probe["interval"] = 999;
    }
    probe["is_system_probe"] =
        probe.at("is_system_probe") || probe.at("name") == "Nightly Batch Duration";
  }
  WriteFile(home / "mixed.json", data.dump());
  Standin mixed{{"--data", home / "mixed.json", "--user", "admin:secret"}};
  Configure(source.Url(), mixed.Url(), "");
  const ProcessResult preview =
      Migrate({home / "preview", "--dry-run", "--only", "alert-templates", "--ignore-existing"});
  EXPECT_THAT(preview.out, HasSubstr("Probe 'Orders Queue Depth', skipped, exists and is kept\n"));
  const ProcessResult moved =
      Migrate({home / "record", "--only", "alert-templates", "--ignore-existing"});
  EXPECT_EQ(moved.status, 5) << moved.err;
  EXPECT_THAT(moved.out, HasSubstr("Migrated from 'old' to 'new': 1 failed, 4 skipped.\n"));
  EXPECT_THAT(RunAgainst(mixed.Url(), {"export-probes"}).out, HasSubstr("\"interval\":999"));
}

TEST_F(NamedServers, AnInterruptedMigrationStillPrintsWholeLinesAndWhereItStopped) {
  json data = json::parse(ReadFile(home / "source.json"));
  json& probes = data.at("probes");
  const json sample = probes.back();
  for (int i = 0; i < 6000; ++i) {
    json probe = sample;
    probe["id"] = 100000 + i;
    probe["name"] = "Bulk " + std::to_string(i);
    probe["is_system_probe"] = false;
    probes.push_back(probe);
  }
  WriteFile(home / "bulk.json", data.dump());
  Standin bulk{{"--data", home / "bulk.json", "--user", "admin:secret"}};
  Configure(bulk.Url(), target.Url(), "");
  // Standard output is not read on, so the diff waits for it with more than a pipe holds.
  const auto process = Start({"migrate", "--from", "old", "--to", "new", "--dir", home / "r"});
  std::string line;
  while (process->ReadLine(line) && line.rfind("Bulk", 0) != 0) {
  }
  // The signal comes while it waits to write.
  const std::string wchan = "/proc/" + std::to_string(process->Pid()) + "/wchan";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (ReadFile(wchan).find("pipe_write") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  process->Signal(SIGINT);
  const ProcessResult result = process->Wait();
  EXPECT_EQ(result.status, 130) << result.err;
  std::vector<std::string> lines = Lines(result.out);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(),
            "Migration from 'old' to 'new' stopped at the comparison of the probes with 'new'; "
            "nothing was imported.");
  lines.pop_back();
  for (const std::string& row : lines) {
    EXPECT_THAT(row, ::testing::MatchesRegex("Bulk [0-9]+, new, not on the server"));
  }
}

TEST_F(NamedServers, ReadTheTargetOnceAndSendOnlyWhatChangesOverOneConnectionPerServer) {
  // The target's probe and template differ from the source's; the template carries the probe.
  const auto probe = [](int interval) {
    return R"({"id":1,"interval":)" + std::to_string(interval) + R"(,"name":"p"})";
  };
  const auto exports = [&](int interval) {
    return std::pair<Reply, Reply>{
        {200, R"({"probes":[)" + probe(interval) + R"(],"version":"11.0"})"},
        {200, R"({"alert_templates":[{"custom_probes":[)" + probe(interval) + R"(],"id":2,)" +
                  R"("name":"t","x":)" + std::to_string(interval) + R"(}],"version":"11.0"})"}};
  };
  StubServer from, into;
  for (auto [server, interval] : {std::pair{&from, 60}, std::pair{&into, 99}}) {
    server->ServeSession();
    server->On("POST", "/api/v11/probe/custom/export/", exports(interval).first);
    server->On("POST", "/api/v11/alert/custom/export/", exports(interval).second);
    server->On("POST", "/api/v11/probe/custom/import/", {200, R"({"result":[]})"});
    server->On("POST", "/api/v11/alert/custom/import/", {200, R"({"result":[]})"});
  }
  Configure(from.BaseUrl(), into.BaseUrl(), "");
  WriteFile(home / "probes.json", exports(60).first.body);
  WriteFile(home / "templates.json", exports(60).second.body);
  WriteFile(home / "others.json",
            std::regex_replace(exports(60).second.body, std::regex("\"p\""), "\"q\""));
  // The run (a migrate's record directory, or an import's file and backup), then the requests
  // that the source and the target see; a probe that no template of the target carries makes
  // the target's probes read too, unless the import keeps the target's probes.
  const std::tuple<Flags, size_t, size_t> cases[] = {
      {{home / "dry", "--dry-run"}, 4, 4},
      {{home / "full"}, 4, 6},
      {{"import-probes", "-i", home / "probes.json", "--backup", home / "b1"}, 0, 4},
      {{"import-alert-templates", "-i", home / "templates.json", "--backup", home / "b2"}, 0, 4},
      {{"import-alert-templates", "-i", home / "others.json", "--backup", home / "b3"}, 0, 5},
      {{"import-alert-templates", "-i", home / "others.json", "--ignore-existing-probes",
        "--backup", home / "b4"},
       0,
       4}};
  for (const auto& [args, fromRequests, intoRequests] : cases) {
    const size_t sent[] = {from.Requests().size(), into.Requests().size()};
    const size_t opened[] = {from.ConnectionCount(), into.ConnectionCount()};
    EXPECT_LT((fromRequests != 0 ? Migrate(args) : RunAgainst(into.BaseUrl(), args)).status, 4);
    EXPECT_EQ(from.Requests().size() - sent[0], fromRequests);
    EXPECT_EQ(into.Requests().size() - sent[1], intoRequests);
    EXPECT_EQ(from.ConnectionCount() - opened[0], fromRequests == 0 ? 0u : 1u);
    EXPECT_EQ(into.ConnectionCount() - opened[1], 1u);
  }
  EXPECT_EQ(into.RequestsTo("POST", "/api/v11/probe/custom/import/").front().body,
            R"({"probes":[)" + probe(60) + R"(],"skip_overwrite":false,"version":"11.0"})");
}

TEST_F(NamedServers, AMigrationThatFailsMidwaySaysWhereItStoppedAndWhetherTheTargetChanged) {
  const Reply created(200, R"({"result":[{"name":"p","status":"created","msg":null}]})");
  const Reply skipped(200, R"({"result":[{"name":"p","status":"skipped","msg":"kept"}]})");
  const Reply dropped = Raw("", true);
  const std::string stop = "Migration from 'old' to 'new' stopped at the import of the ";
  const std::string doubt = "; the unfinished import may have changed 'new'.\n";
  // The answers to the two imports, the exit status, the output's end and the error ("" for the
  // dropped connection).
  const std::tuple<Reply, Reply, int, std::string, std::string> cases[] = {
      {created, Reply(500, R"({"errormsg":"disk full"})"), 5,
       "alert-templates into 'new'; imported so far: 1 created" + doubt,
       "HTTP (Error: 500): disk full"},
      {created, dropped, 5, "alert-templates into 'new'; imported so far: 1 created" + doubt, ""},
      {dropped, created, 5, "probes into 'new'; nothing was imported" + doubt, ""},
      {skipped, Reply(400, R"({"errormsg":"no"})"), 4,
       "alert-templates into 'new'; imported so far: 1 skipped.\n", "HTTP (Error: 400): no"}};
  int run = 0;
  for (const auto& [probes, templates, status, end, error] : cases) {
    StubServer target;
    target.ServeSession();
    target.On("POST", "/api/v11/probe/custom/export/", {200, R"({"probes":[],"version":"11.0"})"});
    target.On("POST", "/api/v11/alert/custom/export/",
              {200, R"({"alert_templates":[],"version":"11.0"})"});
    target.On("POST", "/api/v11/probe/custom/import/", probes);
    target.On("POST", "/api/v11/alert/custom/import/", templates);
    Configure(source.Url(), target.BaseUrl(), "");
    const ProcessResult result = Migrate({home / std::to_string(run++)});
    EXPECT_EQ(result.status, status) << result.err;
    EXPECT_THAT(result.out, EndsWith(stop + end));
    const std::string transport = "The exchange with the KORV Server at '" + target.BaseUrl() +
                                  "' failed: Server returned nothing";
    EXPECT_THAT(result.err, HasSubstr(error.empty() ? transport : error + "\n"));
    // The result says the same, in the record too.
    const std::string record = home / std::to_string(run++);
    const ProcessResult asJson = Migrate({record, "--json"});
    EXPECT_EQ(asJson.status, status);
    EXPECT_EQ(json::parse(asJson.out).at("stopped"), stop + end.substr(0, end.size() - 1));
    EXPECT_EQ(ReadFile(record + "/result.json"), asJson.out);
  }
  // The comparison of diff-probes alike.
  StubServer server;
  server.ServeSession();
  server.On("POST", "/api/v11/probe/custom/export/", Raw("", true));
  WriteFile(home / "p.json", R"({"probes":[],"version":"11.0"})");
  EXPECT_THAT(RunAgainst(server.BaseUrl(), {"diff-probes", "-i", home / "p.json"}).err,
              HasSubstr("The exchange with the KORV Server at '" + server.BaseUrl() + "' failed"));
}

}  // namespace
}  // namespace korv::test
