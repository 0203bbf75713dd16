// Named servers from the configuration file, and migrate between two of them: korv-standin
// servers, the target over TLS.
#include <gtest/gtest.h>

#include <filesystem>

#include <nlohmann/json.hpp>

#include "tests/support/cli_test.h"

namespace korv::test {
namespace {

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
  std::string LoginUrl() const {
    const std::string log = Log();
    const size_t at = log.rfind("url: ");
    return at == std::string::npos ? "" : log.substr(at + 5, log.find('\n', at) - at - 5);
  }
  // Moves the custom items from "old" to "new", recording them in the directory.
  ProcessResult Migrate(const std::string& dir, bool dryRun) {
    std::vector<std::string> args = {"migrate", "--from", "old", "--to", "new", "--dir", dir};
    if (dryRun) {
      args.push_back("--dry-run");
    }
    return Run(args);
  }
  size_t Listed(const std::string& server, const char* command) {
    const ProcessResult result = Run({"--server", server, command});
    EXPECT_EQ(result.status, 0) << result.err;
    return nlohmann::json::parse(result.out).size();
  }

  Standin source{
      {"--data", home / "source.json", "--user", "admin:secret", "--with-custom-samples"}};
  Standin target{{"--data", home / "target.json", "--user", "admin:secret", "--tls-cert",
                  Pki() / "server.pem", "--tls-key", Pki() / "server.key"}};
};

TEST_F(NamedServers, TakeEachSettingFromTheOptionThenTheEntryThenTheVariable) {
  Configure("http://127.0.0.1:1/entry", "http://127.0.0.1:1/other", "");
  const std::string variable = "KORV_SERVER_URL=http://127.0.0.1:1/variable";
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> environment;
    const char* url;
  } cases[] = {
      {{"--server", "old"}, {variable}, "entry"},
      {{"--server", "old", "-p", "http://127.0.0.1:1/option"}, {variable}, "option"},
      {{}, {variable, "KORV_SERVER=old"}, "entry"},
      {{"--server", "new"}, {variable, "KORV_SERVER=old"}, "other"},
      {{"-u", "admin"}, {variable, "KORV_API_PASSWORD=secret"}, "variable"},
  };
  for (const auto& c : cases) {
    environment = c.environment;
    std::vector<std::string> args = c.args;
    args.push_back("list-probes");
    EXPECT_EQ(Run(args).status, 105);
    EXPECT_EQ(LoginUrl(), std::string("http://127.0.0.1:1/") + c.url + "/api/token/") << c.url;
  }
}

TEST_F(NamedServers, RefuseAnUnknownNameAnUnsafeFileAndBadEntriesNamingThem) {
  Configure("http://127.0.0.1:1/", "http://127.0.0.1:1/", "colour = 'red'\n");
  const std::string bad = home / ".config/korv-cli/config.toml";
  WriteFile(home / "wrong-type.toml", "[servers.x]\nurl = 'u'\n\nmax-time = 'soon'\n");
  WriteFile(home / "shared.toml", "", 0620);
  WriteFile(home / "good.toml", "[servers.a]\n[servers.b]\n");
  const std::tuple<std::string, std::string, int, std::string> cases[] = {
      {home / "good.toml", "c", 105,
       "Unknown server 'c'; '" + home / "good.toml" + "' names: a, b."},
      {bad, "old", 110, "'" + bad + "', line 5: unknown key 'colour'."},
      {home / "wrong-type.toml", "x", 110, "line 4: 'max-time' must be a number of seconds."},
      {home / "shared.toml", "x", 103, "shared.toml' may be written by group or others"},
      {home.Path(), "x", 103, "'" + home.Path() + "' is not a plain file"},
      {home / "none.toml", "x", 103, "none.toml' is missing"},
  };
  for (const auto& [config, name, status, message] : cases) {
    const ProcessResult result = Run({"--config", config, "--server", name, "list-probes"});
    EXPECT_EQ(result.status, status) << result.err;
    EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
  }
}

TEST_F(NamedServers, MigrateMovesEveryCustomItemAndKeepsTheRecord) {
  Configure(source.Url(), target.Url(), "");
  EXPECT_EQ(Migrate(home / "preview", true).status, 3);
  EXPECT_EQ(Listed("new", "list-probes"), 0u);
  EXPECT_EQ(Entries(home / "preview"),
            (std::vector<std::string>{"alert-templates.json", "probes.json"}));

  const ProcessResult moved = Migrate(home / "record", false);
  EXPECT_EQ(moved.status, 0) << moved.err;
  EXPECT_NE(moved.out.find("Migrated from 'old' to 'new': 6 created."), std::string::npos)
      << moved.out;
  EXPECT_EQ(Entries(home / "record").size(), 4u);
  for (const char* command : {"list-probes", "list-alert-templates"}) {
    EXPECT_EQ(Listed("new", command), Listed("old", command)) << command;
  }
  EXPECT_EQ(Migrate(home / "again", true).status, 0);
  EXPECT_EQ(Migrate(home / "record", true).status, 105);
}

TEST_F(NamedServers, MigrateGivesTheSourceTokenBackWhenTheTargetRefusesTheLogin) {
  Configure(source.Url(), target.Url(), "", "intruder");
  const ProcessResult result = Migrate(home / "r", false);
  EXPECT_EQ(result.status, 105);
  EXPECT_NE(result.err.find("User authentication failed."), std::string::npos) << result.err;
  EXPECT_NE(Log().find("Token released.."), std::string::npos);
}

}  // namespace
}  // namespace korv::test
