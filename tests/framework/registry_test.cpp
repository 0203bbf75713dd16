#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/command.h"

namespace {

// A command that records what the driver did with it.
class Recorder : korv::cli::Command {
 public:
  explicit Recorder(const std::string& name) : Command(name) {}
  void Perform() override { ++performed; }
  void Init(CLI::App* app) override { app->add_option("--value", value, "A value"); }
  std::string Purpose() override { return "Record what happens."; }

  int performed = 0;
  int value = 0;
};

// Registered before main. Commands are never unregistered, so the one added by tests is a
// function-local static, registered on first use and kept to the end of the process.
Recorder only("only");
Recorder& second() {
  static Recorder command("second");
  return command;
}

int initAll(std::vector<std::string> args, bool standAlone) {
  args.insert(args.begin(), "korv-cli");
  std::vector<char*> argv;
  for (auto& arg : args) {
    argv.push_back(arg.data());
  }
  return korv::cli::Command::InitAll("Title", static_cast<int>(argv.size()), argv.data(),
                                     standAlone);
}

TEST(StandAloneMode, RunsTheOnlyCommandWithItsOptionsAtTheTopLevel) {
  // Tests that ran before may have registered the second command for good: this one runs in a
  // fresh start of the program that runs it alone.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::exit(initAll({"-p", "http://host/", "-u", "user", "--value", "7"}, true) == 0 &&
                                only.performed == 1 && only.value == 7
                            ? 0
                            : 1),
              ::testing::ExitedWithCode(0), "");
}

TEST(StandAloneMode, RefusesARegistryWithMoreThanOneCommand) {
  second();
  only.performed = second().performed = 0;
  try {
    initAll({"-p", "http://host/", "-u", "user"}, true);
    FAIL() << "stand-alone mode accepted two commands";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Can not define more than one sub-commands in stand alone mode.");
  }
  EXPECT_EQ(only.performed + second().performed, 0);
}

TEST(Registry, RefusesASecondCommandWithTheSameName) {
  try {
    Recorder duplicate("only");
    FAIL() << "a duplicate name was registered";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Can not define more than one sub-command with same name.");
  }
}

TEST(Driver, RunsOnlyTheChosenSubcommandOnce) {
  only.performed = second().performed = 0;
  EXPECT_EQ(initAll({"-p", "http://host/", "-u", "user", "second", "--value", "3"}, false), 0);
  EXPECT_EQ(second().performed, 1);
  EXPECT_EQ(second().value, 3);
  EXPECT_EQ(only.performed, 0);
}

TEST(Driver, TakesASecondSubcommandNameAsAnUnexpectedArgument) {
  only.performed = second().performed = 0;
  EXPECT_EQ(initAll({"-p", "http://host/", "-u", "user", "second", "only"}, false),
            static_cast<int>(CLI::ExitCodes::ExtrasError));
  EXPECT_EQ(second().performed + only.performed, 0);
}

}  // namespace
