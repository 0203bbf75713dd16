// Named servers from the configuration file, and migrate between two of them: korv-standin
// servers, the target over TLS.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "tests/support/cli_test.h"

namespace korv::test {
namespace {

using ::testing::HasSubstr;
using Flags = std::vector<std::string>;

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
  EXPECT_EQ(Migrate({home / "preview-again", "--dry-run"}).status, 3) << "nothing was imported";
  EXPECT_EQ(Entries(home / "preview"), (Flags{"alert-templates.json", "probes.json"}));
  ::unlink(LogPath().c_str());
  const ProcessResult moved = Migrate({home / "record"});
  EXPECT_EQ(moved.status, 0) << moved.err;
  EXPECT_THAT(moved.out, HasSubstr("Migrated from 'old' to 'new': 6 created."));
  EXPECT_EQ(Entries(home / "record").size(), 4u);
  const std::string log = Log();
  const std::regex released("Token released");
  EXPECT_EQ(std::distance(std::sregex_iterator(log.begin(), log.end(), released), {}), 2);
  EXPECT_EQ(Migrate({home / "again", "--dry-run"}).status, 0) << "the target has every item";
  EXPECT_EQ(Migrate({home / "record", "--dry-run"}).status, 105);
  // The target refuses the login: the source's token is given back all the same.
  Configure(source.Url(), target.Url(), "", "intruder");
  ::unlink(LogPath().c_str());
  EXPECT_THAT(Showing(Migrate({home / "r"})).err, HasSubstr("User authentication failed."));
  EXPECT_THAT(Log(), HasSubstr("Token released.."));
}

}  // namespace
}  // namespace korv::test
