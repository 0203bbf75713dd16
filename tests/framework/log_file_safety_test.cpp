// A log file that is not the user's own regular file (HOME may point into another user's
// directory) is left alone: the run goes on without a log and says so once.
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include <gtest/gtest.h>

#include "tests/support/cli_test.h"

namespace korv::test {
namespace {

class UnsafeLogFile : public CliTest {
 protected:
  void SetUp() override { program = KORV_TEST_CLI_PATH; }
};

TEST_F(UnsafeLogFile, ALinkAForeignFileAndAFifoAreLeftUntouchedWithOneWarningLine) {
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
    struct stat before {
    }, after{};
    ASSERT_EQ(setup(), 0);
    ASSERT_EQ(::lstat(log.c_str(), &before), 0);
    const ProcessResult result =
        Run({"-p", "http://h", "-u", "a", "log-lines", "-n", "2", "-s", "1"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "Warning: the log file '" + log +
                              "' is not a regular file of this user; running without a log.\n");
    ASSERT_EQ(::lstat(log.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(after.st_size, before.st_size);
    EXPECT_FALSE(Exists(target + "-none"));
    EXPECT_TRUE(!Exists(target) || (ReadFile(target) == "theirs\n" && FileMode(target) == 0644));
  }
}

}  // namespace
}  // namespace korv::test
