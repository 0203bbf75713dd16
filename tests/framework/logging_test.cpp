// The log file: where it goes, what a line looks like, how it rolls and who may read it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>

#include "tests/support/cli_test.h"

namespace korv::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class LogFile : public CliTest {
 protected:
  void SetUp() override { program = KORV_TEST_CLI_PATH; }
  ProcessResult LogLines(int count, int size, std::vector<std::string> global = {}) {
    std::vector<std::string> args = {"-p", "http://h", "-u", "a"};
    args.insert(args.end(), global.begin(), global.end());
    args.insert(args.end(), {"log-lines", "-n", std::to_string(count), "-s",
                             std::to_string(size)});
    return Run(args);
  }
  std::string Rolled(int number) const {
    return home / (".korv-cli." + std::to_string(number) + ".log");
  }
};

TEST_F(LogFile, StartsWithAByteOrderMarkAndEveryLineHasTheFixedLayout) {
  ASSERT_EQ(LogLines(3, 5).status, 0);
  const std::string raw = ReadFile(LogPath());
  ASSERT_EQ(raw.substr(0, 3), "\xEF\xBB\xBF");
  const std::vector<std::string> lines = Lines(Log());
  ASSERT_EQ(lines.size(), 4u) << raw;
  const std::regex layout(
      R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} (FATAL|ERROR|WARN |INFO |DEBUG|VERB ) \[\d+\] \[[^ \[\]@]+@\d+\] .*)");
  for (const auto& line : lines) {
    EXPECT_TRUE(std::regex_match(line, layout)) << line;
  }
  EXPECT_TRUE(std::regex_search(
      lines[0], std::regex(R"( INFO  \[\d+\] \[korv::cli::Command::InitAll@\d+\] ------> )"
                           R"(Executing the subcommand - log-lines$)")))
      << lines[0];
  EXPECT_THAT(lines[1], HasSubstr("[{anonymous}::LogLines::Perform@"));
  EXPECT_THAT(lines[1], HasSubstr("] line 0 xxxxx"));
}

TEST_F(LogFile, AnExistingFileIsAppendedToWithoutAnotherByteOrderMark) {
  WriteFile(LogPath(), "earlier line\n", 0600);
  ASSERT_EQ(LogLines(1, 1).status, 0);
  const std::string raw = ReadFile(LogPath());
  EXPECT_EQ(raw.rfind("earlier line\n", 0), 0u);
  EXPECT_EQ(raw.find("\xEF\xBB\xBF"), std::string::npos);
  EXPECT_EQ(Lines(raw).size(), 3u);
}

TEST_F(LogFile, AtErrorLevelKeepsTheFailureInItsLongFormButNotTheExecutingLine) {
  const ProcessResult result =
      Run({"-p", "http://h", "-u", "a", "-l", "ERROR", "fail", "-k", "file"});
  EXPECT_EQ(result.status, 4);
  const std::string log = Log();
  EXPECT_THAT(log, Not(HasSubstr("Executing the subcommand")));
  EXPECT_TRUE(std::regex_search(
      log,
      std::regex(
          R"( ERROR \[\d+\] \[korv::cli::Command::InitAll@\d+\] FileError )"
          R"(\(virtual void (\{anonymous\}|\(anonymous namespace\))::Fail::Perform\(\)@\d+\): )"
          R"(Input file 'x' is broken\.\n)")))
      << log;
}

TEST_F(LogFile, IsOwnerOnlyIncludingAnOlderFileThatOthersCouldRead) {
  ASSERT_EQ(LogLines(1, 1).status, 0);
  EXPECT_EQ(FileMode(LogPath()), 0600);

  WriteFile(LogPath(), "old\n", 0644);
  ASSERT_EQ(LogLines(1, 1).status, 0);
  EXPECT_EQ(FileMode(LogPath()), 0600);
}

TEST_F(LogFile, InAMissingDirectoryIsNotWrittenAndNotAnError) {
  const std::string path = home / "missing/dir/korv.log";
  const ProcessResult result = LogLines(2, 1, {"--log-file", path});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_FALSE(Exists(home / "missing"));
  EXPECT_FALSE(Exists(LogPath()));
}

TEST_F(LogFile, GivenByOptionIsUsedInsteadOfTheDefault) {
  const std::string path = home / "chosen.log";
  ASSERT_EQ(LogLines(1, 1, {"--log-file", path}).status, 0);
  EXPECT_TRUE(Exists(path));
  EXPECT_FALSE(Exists(LogPath()));
}

TEST_F(LogFile, RollsPastOneHundredThousandBytesIntoNumberedOwnerOnlyFiles) {
  ASSERT_EQ(LogLines(150, 1000).status, 0);
  ASSERT_TRUE(Exists(Rolled(1)));
  EXPECT_FALSE(Exists(Rolled(2)));
  const std::string rolled = ReadFile(Rolled(1));
  EXPECT_EQ(rolled.substr(0, 3), "\xEF\xBB\xBF");
  EXPECT_GT(rolled.size(), 100000u);
  EXPECT_LT(rolled.size(), 100000u + 1200u);
  EXPECT_EQ(ReadFile(LogPath()).substr(0, 3), "\xEF\xBB\xBF");
  EXPECT_EQ(FileMode(Rolled(1)), 0600);
  EXPECT_EQ(FileMode(LogPath()), 0600);
  // Nothing is lost in the roll.
  EXPECT_EQ(Lines(rolled).size() + Lines(ReadFile(LogPath())).size(), 151u);
}

TEST_F(LogFile, KeepsAtMostTenFilesAndDropsTheOldest) {
  ASSERT_EQ(LogLines(1300, 1000).status, 0);
  for (int number = 1; number <= 9; ++number) {
    EXPECT_TRUE(Exists(Rolled(number))) << number;
  }
  EXPECT_FALSE(Exists(Rolled(10)));
  EXPECT_THAT(ReadFile(LogPath()), HasSubstr("line 1299 "));
  EXPECT_THAT(ReadFile(Rolled(9)), Not(HasSubstr("line 0 ")));
}

TEST_F(LogFile, ThatIsAlreadyTooLargeRollsBeforeTheSecondRecordNotTheFirst) {
  WriteFile(LogPath(), std::string(150000, 'o') + "\n", 0600);
  ASSERT_EQ(LogLines(1, 1).status, 0);
  const std::string rolled = ReadFile(Rolled(1));
  EXPECT_THAT(rolled, HasSubstr("Executing the subcommand"));
  EXPECT_THAT(rolled, Not(HasSubstr("line 0")));
  EXPECT_THAT(ReadFile(LogPath()), HasSubstr("line 0"));
}

}  // namespace
}  // namespace korv::test
