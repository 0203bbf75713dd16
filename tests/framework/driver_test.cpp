// The command line as users meet it: help, version, the checks of option values, and the exit
// status each kind of run ends with; and the output file, where a run's timing is not enough.
#include <gtest/gtest.h>

#include <regex>

#include "common/output.h"
#include "tests/support/cli_test.h"

namespace korv::test {
namespace {

using ::testing::PrintToString;

class Driver : public ServerTest {};

TEST_F(Driver, EndsEachKindOfCommandLineWithItsStatusAndMessageWithoutLogging) {
  const std::string missing = home / std::string(3000, 'm');  // longer than any fixed buffer
  WriteFile(home / "blank", "\n \t\n\r\n");
  const std::vector<std::string> base = {"-p", "http://h", "-u", "a"};
  const auto with = [&](std::vector<std::string> args) {
    args.insert(args.begin(), base.begin(), base.end());
    return args;
  };
  // The arguments, the status, and what standard output and standard error hold.
  const std::tuple<std::vector<std::string>, int, std::string, std::string> cases[] = {
      {{}, 106, "", "--korv-url is required\n"},
      {{"-h"}, 0, "--log-file=" + LogPath(), ""},
      {{"--help", "-u", "a"}, 0, "(Env:KORV_SERVER_URL)", ""},
      {base, 0, "KORV Cli (Telvarion Command Line Interface)", ""},
      {{"-l", "loud", "--version"}, 105, "", "loud"},
      {{"-p", "http://h", "list-probes", "-u", "a"}, 106, "", "--korv-user is required"},
      {with({"list-probes", "-l", "debug"}), 109, "", "-l"},
      {{"-p", "http://h/x?y", "-u", "a"}, 105, "", "Marlformed url: 'http://h/x?y'\n"},
      {with({"-f", missing}), 103, "",
       "Password file '" + missing + "'is missing or not accessible.\n"},
      {with({"-f", home.Path()}), 103, "",
       "Password file '" + home.Path() + "' is not a plain file.\n"},
      {with({"-f", home / "blank"}), 103, "", "Cannot find password in the file.\n"},
      {with({"import-probes", "--backup", ""}), 105, "", "--backup needs a file name.\n"},
  };
  for (const auto& [args, status, out, err] : cases) {
    const ProcessResult result = Run(args);
    EXPECT_TRUE(result.status == status && result.out.find(out) != std::string::npos &&
                result.err.find(err) != std::string::npos && result.err.empty() == err.empty())
        << PrintToString(args) << " " << PrintToString(Showing(result));
  }
  // Of our own refusals, all but a refused value point to --help, as CLI11's do.
  EXPECT_EQ(Run(with({"import-probes", "--backup", ""})).err, "--backup needs a file name.\n");
  EXPECT_EQ(Run(with({"-i", "--no-insecure"})).err,
            "--insecure excludes --no-insecure\nRun with --help for more information.\n");
  for (const char* level : {"Debug", "verbose", "WARNING", "error", "FATAL", "info", "1", "6"}) {
    EXPECT_EQ(Run(with({"-l", level})).status, 0) << level;
  }
  for (const char* level : {"0", "7", "warn", "05", ""}) {
    EXPECT_EQ(Run(with({"-l", level})).status, 105) << level;
  }
  environment = {"KORV_SERVER_URL=http://bad/?query", "KORV_API_USER="};
  EXPECT_EQ(Run({"-p", "http://good"}).status, 106);
  EXPECT_FALSE(Exists(LogPath()));
}

TEST_F(Driver, PrintsTheVersionBannerAndListsEachRecordKindsCommandsInOrderThenMigrate) {
  EXPECT_TRUE(std::regex_match(
      Run({"--version"}).out,
      std::regex(R"(KORV Cli \(Telvarion Command Line Interface\)\nVersion: \d+\.\d+\.\d+\n)"
                 R"(\(Revision: [0-9a-f]{7}, Built on: [A-Z][a-z]{2} [ 1-3]\d \d{4} )"
                 R"(\d\d:\d\d:\d\d\)\nSchema Supported: \d{9}\n)")));
  const std::string help = Run({"--help"}).out;
  size_t at = 0;
  for (const std::string kind : {"probes", "alert-templates"}) {
    for (const std::string verb : {"list-", "export-", "import-", "diff-"}) {
      at = help.find("  " + verb + kind + " ", at);
      ASSERT_NE(at, std::string::npos) << verb << kind << " out of order in\n" << help;
    }
  }
  EXPECT_NE(help.find("  migrate ", at), std::string::npos) << help;
}

TEST_F(Driver, EndsAFailedRunWithFourAfterReleasingTheTokenEvenWithoutStandardStreams) {
  server.On("GET", "/api/v11/probe/", Reply(200, "[]"));
  ProcessOptions options;
  options.closedFds = {0, 1};
  EXPECT_EQ(Showing(RunAgainst({"list-probes"}, options)),
            (Shown{4, "", "Failed to write to the standard output.\n"}));
  options.closedFds = {2};
  EXPECT_EQ(RunAgainst({"import-probes", "-i", home / "none.json"}, options).status, 4);
  EXPECT_EQ(Releases(), 1u) << "no request, no session";
  for (const std::string& line : Lines(Log())) {
    EXPECT_TRUE(std::regex_match(line, std::regex(R"(\d{4}-\d\d-\d\d .*)"))) << line;
  }
}

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KORV_ADDRESS_SANITIZER
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define KORV_ADDRESS_SANITIZER
#endif

// A file that does not fit in the memory the run may have: freeing its partial document must not
// abort the run.
TEST_F(Driver, EndsARunThatRunsOutOfMemoryWithOneAndAMessage) {
#ifdef KORV_ADDRESS_SANITIZER
  GTEST_SKIP() << "the address sanitizer needs more address space than the limit leaves";
#endif
  std::string text = R"({"version":"11.0","probes":[)";
  for (int i = 0; i < 150000; ++i) {
    text += (i == 0 ? "" : ",") + std::string(R"({"interval":60,"level":"L","name":"n)") +
            std::to_string(i) + R"(","description":")" + std::string(100, 'd') + R"("})";
  }
  WriteFile(home / "big.json", text + "]}");
  ProcessOptions options;
  options.args = {"-c",          "ulimit -v 100000 && exec \"$0\" \"$@\"",
                  KORV_CLI_PATH, "check-probes",
                  "-i",          home / "big.json"};
  options.environment = {"HOME=" + home.Path()};
  EXPECT_EQ(Showing(test::Run("/bin/sh", options)),
            (Shown{1, "", "Out of memory: the run was stopped.\n"}));
}

TEST(AtomicFile, ForANewNameLeavesAFileThatTookTheNameMeanwhileAndNothingElseBehind) {
  TempDir dir;
  const std::string name = dir / "new.json";
  AtomicFile file;
  ASSERT_TRUE(file.Open(name, false));
  file.Stream() << "export";
  WriteFile(name, "theirs");
  EXPECT_FALSE(file.Commit());
  EXPECT_EQ(ReadFile(name), "theirs");
  EXPECT_EQ(Entries(dir.Path()), std::vector<std::string>{"new.json"});
}

}  // namespace
}  // namespace korv::test
