// The command line as users meet it: required options, help, version, exit statuses.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>

#include "tests/support/cli_test.h"

namespace korv::test {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

class Driver : public CliTest {};

TEST_F(Driver, PrintsHelpWithoutASubcommandAndReportsAMissingUrlButLogsNeither) {
  ProcessResult result = Run({});
  EXPECT_EQ(result.status, 106);
  EXPECT_EQ(result.out, "");
  EXPECT_THAT(result.err, StartsWith("--korv-url is required\n"));

  for (const auto& args : std::vector<std::vector<std::string>>{
           {"-p", "http://h", "-u", "a"}, {"-h"}, {"--help", "-u", "a"}}) {
    result = Run(args);
    EXPECT_EQ(result.status, 0) << args[0];
    EXPECT_EQ(result.err, "");
    EXPECT_THAT(result.out, HasSubstr("KORV Cli (Telvarion Command Line Interface)"));
    EXPECT_THAT(result.out, HasSubstr("--log-file=" + home.Path() + "/.korv-cli.log"));
    EXPECT_THAT(result.out, HasSubstr("=INFO"));
    EXPECT_THAT(result.out, HasSubstr("(Env:KORV_SERVER_URL)"));
  }
  environment = {"KORV_SERVER_URL=http://h", "KORV_API_USER=a"};
  EXPECT_EQ(Run({}).status, 0);
  EXPECT_FALSE(Exists(LogPath()));
}

TEST_F(Driver, VersionPrintsFourWellFormedLinesWithoutRequiredOptions) {
  const ProcessResult result = Run({"--version"});
  EXPECT_EQ(result.status, 0);
  const std::vector<std::string> lines = Lines(result.out);
  ASSERT_EQ(lines.size(), 4u) << result.out;
  EXPECT_EQ(lines[0], "KORV Cli (Telvarion Command Line Interface)");
  EXPECT_TRUE(std::regex_match(lines[1], std::regex(R"(Version: \d+\.\d+\.\d+)"))) << lines[1];
  EXPECT_TRUE(std::regex_match(
      lines[2],
      std::regex(
          R"(\(Revision: [0-9a-f]{7}, Built on: [A-Z][a-z]{2} [ 1-3]\d \d{4} \d\d:\d\d:\d\d\))")))
      << lines[2];
  EXPECT_TRUE(std::regex_match(lines[3], std::regex(R"(Schema Supported: \d{9})"))) << lines[3];
  EXPECT_FALSE(Exists(LogPath()));
}

TEST_F(Driver, VersionAfterABadLogLevelReportsTheLevelAndPrintsNoBanner) {
  const ProcessResult result = Run({"-l", "loud", "--version"});
  EXPECT_EQ(result.status, 105);
  EXPECT_EQ(result.out, "");
  EXPECT_THAT(result.err, HasSubstr("loud"));
}

TEST_F(Driver, LogLevelsAreNamesInAnyCaseOrTheNumbersOneToSix) {
  for (const char* level : {"debug", "Debug", "DEBUG", "verbose", "Warning", "error", "FATAL",
                            "info", "1", "2", "3", "4", "5", "6"}) {
    EXPECT_EQ(Run({"-p", "http://h", "-u", "a", "-l", level}).status, 0) << level;
  }
  for (const char* level : {"0", "7", "warn", "verb", "05", ""}) {
    const ProcessResult result = Run({"-p", "http://h", "-u", "a", "-l", level});
    EXPECT_EQ(result.status, 105) << level;
    EXPECT_EQ(result.out, "") << level;
  }
}

TEST_F(Driver, AGlobalOptionAfterTheSubcommandIsNotTakenAsOne) {
  program = KORV_TEST_CLI_PATH;
  ProcessResult result = Run({"-p", "http://h", "log-lines", "-u", "a"});
  EXPECT_EQ(result.status, 106);
  EXPECT_THAT(result.err, HasSubstr("--korv-user is required"));

  result = Run({"-p", "http://h", "-u", "a", "log-lines", "-l", "debug"});
  EXPECT_EQ(result.status, 109);
  EXPECT_THAT(result.err, HasSubstr("-l"));
  EXPECT_FALSE(Exists(LogPath()));
}

TEST_F(Driver, CommandLineValuesBeatTheEnvironmentAndEmptyVariablesCountAsUnset) {
  environment = {"KORV_SERVER_URL=http://bad/?query", "KORV_API_USER="};
  ProcessResult result = Run({"-p", "http://good", "-u", "a"});
  EXPECT_EQ(result.status, 0) << result.err;

  result = Run({"-p", "http://good"});
  EXPECT_EQ(result.status, 106);
  EXPECT_THAT(result.err, HasSubstr("--korv-user is required"));
}

TEST_F(Driver, RefusesAUrlWithAQueryOrAFragmentOrNothingAtAll) {
  for (const std::string url : {"http://h/x?y", "https://h/#top", "?", ""}) {
    const ProcessResult result = Run({"-p", url, "-u", "a"});
    EXPECT_EQ(result.status, 105) << url;
    EXPECT_EQ(result.err, "Marlformed url: '" + url + "'\n");
    EXPECT_EQ(result.out, "");
  }
  for (const std::string& url :
       std::vector<std::string>{"ftp://h", "h:8443/korv", std::string(100000, 'a')}) {
    EXPECT_EQ(Run({"-p", url, "-u", "a"}).status, 0) << url.substr(0, 20);
  }
}

TEST_F(Driver, RefusesPasswordFilesThatOthersCanReadOrThatHoldNoPassword) {
  const std::string file = home / "password";
  for (mode_t mode : {0644, 0640, 0604, 0660, 0601}) {
    WriteFile(file, "secret\n", mode);
    const ProcessResult result = Run({"-p", "http://h", "-u", "a", "-f", file});
    EXPECT_EQ(result.status, 103) << std::oct << mode;
    EXPECT_THAT(result.err, StartsWith("Password file '" + file +
                                       "' has group or world access; permissions should be "
                                       "u=rw (0600) or less.\n"));
  }
  for (mode_t mode : {0600, 0400, 0700}) {
    WriteFile(file, "secret\n", mode);
    EXPECT_EQ(Run({"-p", "http://h", "-u", "a", "-f", file}).status, 0) << std::oct << mode;
  }

  const struct {
    std::string path;
    std::string content;
    std::string message;
  } cases[] = {
      {home / "missing", "",
       "Password file '" + home / "missing" + "'is missing or not accessible."},
      {home.Path(), "", "Password file '" + home.Path() + "' is not a plain file."},
      {home / "empty", "", "Cannot find password in the file."},
      {home / "blank", "\n \t\n\r\n", "Cannot find password in the file."},
  };
  for (const auto& c : cases) {
    if (c.path != home.Path() && c.path != home / "missing") {
      WriteFile(c.path, c.content, 0600);
    }
    const ProcessResult result = Run({"-p", "http://h", "-u", "a", "-f", c.path});
    EXPECT_EQ(result.status, 103) << c.path;
    EXPECT_THAT(result.err, StartsWith(c.message + "\n")) << c.path;
  }

  environment = {"KORV_PASSWORD_FILE=" + home / "missing"};
  EXPECT_EQ(Run({"-p", "http://h", "-u", "a"}).status, 103);
}

class ExitStatus : public CliTest {
 protected:
  void SetUp() override { program = KORV_TEST_CLI_PATH; }
  ProcessResult Fail(const std::string& kind) {
    return Run({"-p", "http://h", "-u", "a", "fail", "-k", kind});
  }
};

TEST_F(ExitStatus, IsFourForTheUtilitysOwnErrorsOneForAnyOtherAndZeroForSuccess) {
  const struct {
    const char* kind;
    int status;
    const char* message;
  } cases[] = {
      {"file", 4, "Input file 'x' is broken.\n"},
      {"http", 4, "HTTP (Error: 500): Boom\n"},
      {"validation", 4, "Failed to parse the response from the KORV Server.\n"},
      {"runtime", 1, "A runtime error.\n"},
      {"logic", 1, "A logic error.\n"},
      {"json", 1, "[json.exception.type_error.302] type must be string, but is number\n"},
      {"unknown", 1, "Unknown error.\n"},
      {"none", 0, ""},
  };
  for (const auto& c : cases) {
    const ProcessResult result = Fail(c.kind);
    EXPECT_EQ(result.status, c.status) << c.kind;
    EXPECT_EQ(result.err, c.message) << c.kind;
    EXPECT_EQ(result.out, "") << c.kind;
  }
}

}  // namespace
}  // namespace korv::test
