// The log file: where it goes, what a line looks like, how it rolls, who may read it, and what
// it refuses to write into.
#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <regex>

#include "tests/support/cli_test.h"

namespace korv::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

class LogFile : public ServerTest {
 protected:
  LogFile() { server.On("GET", "/api/v11/probe/", Reply(200, "[]")); }
  // Lists probes the given number of times at the level, from an answer of about that many bytes
  // (logged whole at DEBUG).
  void List(int runs, size_t bytes, const std::string& level = "INFO") {
    server.On("GET", "/api/v11/probe/", Reply(200, "[" + std::string(bytes, ' ') + "]"));
    for (int run = 0; run < runs; ++run) {
      ASSERT_EQ(RunAgainst({"-l", level, "list-probes"}).status, 0);
    }
  }
  std::string Rolled(int number) const {
    return home / (".korv-cli." + std::to_string(number) + ".log");
  }
};

TEST_F(LogFile, IsOwnerOnlyStartsWithAByteOrderMarkAndEveryLineHasTheFixedLayout) {
  WriteFile(LogPath(), "earlier line\n", 0644);
  List(1, 10);
  EXPECT_EQ(FileMode(LogPath()), 0600) << "an older file that others could read is tightened";
  EXPECT_EQ(ReadFile(LogPath()).rfind("earlier line\n2", 0), 0u) << "appended without a mark";

  std::remove(LogPath().c_str());
  List(1, 10);
  const std::string raw = ReadFile(LogPath());
  const std::regex layout(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} (ERROR|WARN |INFO ) \[\d+\] )"
                          R"(\[[^ \[\]@]+@\d+\] .*)");
  for (const auto& line : Lines(Log())) {
    EXPECT_TRUE(std::regex_match(line, layout)) << line;
  }
  EXPECT_TRUE(std::regex_search(raw, std::regex(R"(^\xEF\xBB\xBF[-0-9 :.]+ INFO  \[\d+\] )"
                                                R"(\[korv::cli::Command::InitAll@\d+\] ------> )"
                                                R"(Executing the subcommand - list-probes\n)")))
      << raw;
}

TEST_F(LogFile, AtErrorLevelKeepsTheFailureInItsLongFormOnly) {
  EXPECT_EQ(RunAgainst({"-l", "ERROR", "import-probes", "-i", home / "none.json"}).status, 4);
  EXPECT_THAT(
      Lines(Log()),
      ElementsAre(HasSubstr("] FileError (virtual void korv::cli::ImportProbes::Perform()@")));
}

TEST_F(LogFile, GoesWhereTheOptionSaysAndNowhereWhenItsDirectoryIsMissing) {
  EXPECT_EQ(Showing(RunAgainst({"--log-file", home / "missing/korv.log", "list-probes"})).err, "");
  EXPECT_EQ(Entries(home.Path()), std::vector<std::string>{});
  EXPECT_EQ(RunAgainst({"--log-file", home / "chosen.log", "list-probes"}).status, 0);
  EXPECT_EQ(Entries(home.Path()), std::vector<std::string>{"chosen.log"});
}

TEST_F(LogFile, RollsAtTheFirstRecordPastOneHundredThousandBytesIntoAtMostTenOwnerOnlyFiles) {
  List(4, 30000, "DEBUG");
  ASSERT_TRUE(Exists(Rolled(1)));
  const std::string rolled = ReadFile(Rolled(1));
  EXPECT_GT(rolled.size(), 100000u);
  EXPECT_LE(rolled.size() - Lines(rolled).back().size() - 1, 100000u) << "rolled one record late";
  EXPECT_EQ(ReadFile(LogPath()).rfind("\xEF\xBB\xBF", 0), 0u) << "the new file has its mark";
  EXPECT_EQ(FileMode(LogPath()), 0600);
  List(11, 150000, "DEBUG");
  EXPECT_EQ(Entries(home.Path()).size(), 10u);
}

TEST_F(LogFile, ThatIsAlreadyTooLargeRollsBeforeTheSecondRecordNotTheFirst) {
  WriteFile(LogPath(), std::string(150000, 'o') + "\n");
  List(1, 10);
  EXPECT_THAT(ReadFile(Rolled(1)), HasSubstr("Executing the subcommand"));
  EXPECT_THAT(ReadFile(Rolled(1)), Not(HasSubstr("Token released")));
  EXPECT_THAT(Log(), HasSubstr("Token released"));
}

TEST_F(LogFile, ThatIsALinkAForeignFileOrAFifoIsLeftUntouchedWithOneWarningLine) {
  const std::string target = home / "target", log = LogPath();
  const std::pair<std::string, std::function<int()>> setups[] = {
      {"link", [&] { return ::symlink(target.c_str(), log.c_str()); }},
      {"dangling link", [&] { return ::symlink((target + "-none").c_str(), log.c_str()); }},
      {"hard link", [&] { return ::link(target.c_str(), log.c_str()); }},
      {"foreign file",
       [&] { return ::rename(target.c_str(), log.c_str()), ::chown(log.c_str(), 65534, 65534); }},
      {"fifo", [&] { return ::mkfifo(log.c_str(), 0600); }}};
  for (const auto& [name, setup] : setups) {
    SCOPED_TRACE(name);
    WriteFile(target, "theirs\n", 0644);
    ::unlink(log.c_str());
    struct stat before = {}, after = {};
    ASSERT_EQ(setup(), 0);
    ASSERT_EQ(::lstat(log.c_str(), &before), 0);
    EXPECT_EQ(Showing(RunAgainst({"list-probes"})),
              (Shown{0, "[]\n",
                     "Warning: the log file '" + log +
                         "' is not a regular file of this user; running without a log.\n"}));
    ASSERT_EQ(::lstat(log.c_str(), &after), 0);
    EXPECT_TRUE(after.st_mode == before.st_mode && after.st_size == before.st_size);
    EXPECT_FALSE(Exists(target + "-none"));
    EXPECT_TRUE(!Exists(target) || (ReadFile(target) == "theirs\n" && FileMode(target) == 0644));
  }
}

}  // namespace
}  // namespace korv::test
