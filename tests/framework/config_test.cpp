// Named servers end to end: which entry applies, which files are trusted, how values are read,
// how mistakes are reported, and trust choices that contradict each other.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/support/cli_test.h"

namespace korv::test {
namespace {

using ::testing::AnyOf;
using ::testing::HasSubstr;
using ::testing::Not;
using Flags = std::vector<std::string>;

// The arguments (list-probes is added) and variables of a run, and what must come of it.
struct Case {
  Flags args, variables;
  int status;
  std::string err = "";  // a part of standard error
};

class ConfigFile : public ServerTest {
 protected:
  ConfigFile() {
    server.On("GET", "/api/v11/probe/", Reply(200, "[]"));
    WriteFile(home / "pw", "secret\n");
  }
  // An entry that reaches the scripted server, with these lines added.
  std::string Entry(const std::string& name, const std::string& more = "") {
    return "[servers." + name + "]\nurl = '" + server.BaseUrl() +
           "'\nuser = 'admin'\npassword-file = '~/pw'\n" + more;
  }
  void Check(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
      environment = c.variables;
      Flags args = c.args;
      args.push_back("list-probes");
      ::unlink(LogPath().c_str());
      const ProcessResult result = Run(args);
      EXPECT_EQ(result.status, c.status) << ::testing::PrintToString(c.args) << result.err;
      EXPECT_THAT(result.err, HasSubstr(c.err)) << ::testing::PrintToString(c.args);
    }
  }
  const std::string file = home / "servers.toml";
};

TEST_F(ConfigFile, NoEntryAppliesUnlessAServerIsChosenAndEveryNameIsShownEscaped) {
  WriteFile(file, "[servers.\"\"]\nurl = 'http://127.0.0.1:1/entry'\n", 0644);
  const Flags variables = {"KORV_CONFIG=" + file, "KORV_API_PASSWORD=secret",
                           "KORV_SERVER_URL=" + server.BaseUrl()};
  Check(
      {{{"-u", "admin"}, variables, 0},
       {{"--config", home / "none.toml", "-p", server.BaseUrl(), "-u", "admin"}, variables, 0},
       {{"--server", ""}, variables, 105, "The server name is empty;"},
       {{"--server", "x"}, variables, 110, file + "', line 1: a server name must not be empty."},
       {{"--server-entry", file, "--server", "x"}, variables, 109, "not expected: --server-entry"},
       {{"--server-entry", home / "none"}, variables, 109, "not expected: --server-entry"}});
  WriteFile(file, Entry("\"a\\u001b[1m\""), 0644);
  Check({{{"--config", file, "--server", "x\ny"},
          {},
          105,
          "'x\\ny'; '" + file + "' names: a\\u001b[1m."},
         {{"-p", "http://a\n?"}, {}, 105, "Marlformed url: 'http://a\\n?'"}});
}

TEST_F(ConfigFile, OnlyAFileOfTheUserOrRootThatNobodyElseMayWriteIsRead) {
  const std::string refused = "Configuration file '" + file + "' ";
  const std::string writable = refused +
                               "may be written by group or others; only its owner may have write "
                               "access (e.g. mode 0644 or 0600).\n";
  for (const mode_t mode : {0664, 0646}) {
    WriteFile(file, Entry("a"), mode);
    // A refused file gives way to --help and to errors in the options' values.
    Check({{{"--config", file, "--server", "a"}, {}, 103, writable},
           {{"--config", file, "--server", "a", "-h"}, {}, 0},
           {{"--config", file, "--server", "a", "--max-time", "0"}, {}, 105, "--max-time: '0'"}});
  }
  WriteFile(file, Entry("a"), 0644);
  Check({{{"--config", file, "--server", "a"}, {}, 0}});
  if (::chown(file.c_str(), 4242, 4242) == 0) {  // only root may give a file away
    Check({{{"--config", file, "--server", "a"}, {}, 103, refused + "belongs to user id 4242"}});
  }
}

TEST_F(ConfigFile, ValuesAreTakenAsWrittenAndErrorsAboutThemNameTheFileAndLine) {
  WriteFile(file, Entry("a", "max-time = 1234567.5\nconnect-timeout = 0.00001\n"), 0644);
  // A connection within 1 ms may fail on a loaded machine: what counts is that both values were
  // taken, not refused.
  const ProcessResult taken = Run({"--config", file, "--server", "a", "list-probes"});
  EXPECT_THAT(taken.status, AnyOf(0, 105)) << taken.err;
  EXPECT_THAT(taken.err, Not(HasSubstr("Configuration file")));
  EXPECT_THAT(Log(), HasSubstr("connect timeout 1 ms, max time 1234567500 ms"));
  const std::string line3 = "Configuration file '" + file + "', line 3: ";
  const std::pair<std::string, Case> cases[] = {
      {"url = 'http://x?y'", {{}, {}, 105, line3 + "Marlformed url: 'http://x?y'"}},
      {"password-file = '~/none'", {{}, {}, 103, line3 + "Password file '" + home / "none"}},
      {"proxy-user = 'p'",
       {{"--proxy", "http://127.0.0.1:1"}, {}, 105, line3 + "Provide the proxy"}},
      {"max-time = 0", {{}, {}, 110, line3 + "'max-time' must be a number of seconds greater"}},
      {"connect-timeout = nan", {{}, {}, 110, line3 + "'connect-timeout' must be a number"}}};
  for (auto [line, run] : cases) {
    WriteFile(file, "[servers.a]\nuser = 'admin'\n" + line + "\n", 0644);
    run.args.insert(run.args.end(), {"--config", file, "--server", "a"});
    run.variables = {"KORV_SERVER_URL=" + server.BaseUrl(), "KORV_API_PASSWORD=secret"};
    Check({run});
  }
}

TEST_F(ConfigFile, TheCertificateCheckIsNeverDroppedSilentlyAndAnEntryCannotForceIt) {
  Standin tls({"--data", home / "data.json", "--user", "admin:secret", "--tls-cert",
               Pki() / "server.pem", "--tls-key", Pki() / "server.key"});
  const std::string ca = Pki() / "ca.pem";
  const std::string url = "url = '" + tls.Url() + "'\nuser = 'admin'\npassword-file = '~/pw'\n";
  WriteFile(file,
            "[servers.lax]\n" + url + "insecure = true\n[servers.strict]\n" + url + "cacert = '" +
                ca + "'\n",
            0644);
  const std::string lax = "--insecure (Configuration file '" + file + "', line 5) excludes ";
  const Flags toLax = {"--config", file, "--server", "lax"},
              toStrict = {"--config", file, "--server", "strict"};
  const auto with = [](Flags args, const Flags& more) {
    args.insert(args.end(), more.begin(), more.end());
    return args;
  };
  Check({{toLax, {}, 0},
         {with(toLax, {"--no-insecure"}), {}, 105, "Failed to access the KORV REST API Server."},
         {with(toLax, {"--no-insecure", "--cacert", ca}), {}, 0},
         {toLax, {"KORV_CA_BUNDLE=" + ca}, 107, lax + "--cacert\n"},
         {with(toStrict, {"-i"}), {}, 107, "--insecure excludes --cacert (Configuration file"},
         {{"-p", tls.Url(), "-u", "admin", "-i", "--cacert", ca},
          {},
          107,
          "--insecure excludes --cacert\n"},
         {{"-i", "--no-insecure"}, {}, 107, "--insecure excludes --no-insecure\n"}});
}

TEST_F(ConfigFile, AnEntryWithoutUserOrPasswordIsNamedAsTheSourceOrTargetOfAMigrate) {
  const std::string named = "Server 'new' in '" + file + "': ";
  const std::pair<std::string, std::string> targets[] = {
      {"", "--korv-user is required\n"},
      {"user = 'admin'\n", "Provide username and password to continue.\n"}};
  for (const auto& [user, message] : targets) {
    WriteFile(file, Entry("old") + "[servers.new]\nurl = '" + server.BaseUrl() + "new/'\n" + user,
              0644);
    Check({{{"--config", file, "--server", "new"}, {}, user.empty() ? 106 : 105, named + message}});
    const ProcessResult result = Run({"--config", file, "migrate", "--from", "old", "--to", "new",
                                      "--dir", home / ("record" + std::to_string(user.size()))});
    EXPECT_THAT(result.err, HasSubstr(named + message));
  }
}

}  // namespace
}  // namespace korv::test
