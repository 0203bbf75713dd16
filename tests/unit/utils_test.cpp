#include <gtest/gtest.h>

#include <cstdlib>

#include "common/env.h"
#include "common/error.h"
#include "common/path.h"
#include "common/scope.h"
#include "common/string_utils.h"
#include "tests/support/temp_dir.h"

namespace korv {
namespace {

TEST(StringFormat, FillsPlaceholdersAndReturnsResultsLongerThanAnyStackBuffer) {
  EXPECT_EQ(string::format("HTTP (Error: %ld): %s", 404L, "Not here"),
            "HTTP (Error: 404): Not here");
  const std::string longText(20000, 'a');
  const std::string formatted = string::format("<%s|%s>", longText, longText);
  EXPECT_EQ(formatted.size(), 2 * longText.size() + 3);
  EXPECT_EQ(formatted.back(), '>');
  EXPECT_EQ(string::format("no placeholders"), "no placeholders");
}

TEST(StringTrim, RemovesWhiteSpaceOnlyAtTheChosenEnd) {
  std::string text = " \t\r\n a b \v\f\r\n";
  string::rtrim(text);
  EXPECT_EQ(text, " \t\r\n a b");
  string::ltrim(text);
  EXPECT_EQ(text, "a b");

  std::string blanks = " \t\r\n";
  string::rtrim(blanks);
  EXPECT_EQ(blanks, "");
  std::string empty;
  string::ltrim(empty);
  EXPECT_EQ(empty, "");
  std::string highBytes = "\xA0value\xA0";  // not white space in the "C" locale
  string::rtrim(highBytes);
  EXPECT_EQ(highBytes, "\xA0value\xA0");
}

TEST(MergePaths, AlwaysInsertsOneSlash) {
  EXPECT_EQ(path::mergePaths("/home/u", ".korv-cli.log"), "/home/u/.korv-cli.log");
  EXPECT_EQ(path::mergePaths("", ".korv-cli.log"), "/.korv-cli.log");
  EXPECT_EQ(path::mergePaths("/home/u/", "x"), "/home/u//x");
}

TEST(FileExistence, CountsDirectoriesButNotDanglingLinks) {
  test::TempDir dir;
  EXPECT_TRUE(path::checkIfFileExists(dir.Path()));
  test::WriteFile(dir / "file", "x");
  EXPECT_TRUE(path::checkIfFileExists(dir / "file"));
  ASSERT_EQ(::symlink((dir / "missing").c_str(), (dir / "link").c_str()), 0);
  EXPECT_FALSE(path::checkIfFileExists(dir / "link"));
}

TEST(ProcessEnv, TreatsUnsetAndEmptyAlikeAndLeavesTargetAloneForAnEmptyName) {
  std::string target = "before";
  EXPECT_FALSE(cli::process_env("", target));
  EXPECT_EQ(target, "before");

  ::unsetenv("KORV_TEST_UNSET");
  EXPECT_FALSE(cli::process_env("KORV_TEST_UNSET", target));
  EXPECT_EQ(target, "");

  ::setenv("KORV_TEST_VALUE", "", 1);
  target = "before";
  EXPECT_FALSE(cli::process_env("KORV_TEST_VALUE", target));
  EXPECT_EQ(target, "");
  ::setenv("KORV_TEST_VALUE", "v", 1);
  EXPECT_TRUE(cli::process_env("KORV_TEST_VALUE", target));
  EXPECT_EQ(target, "v");
}

TEST(LogDirectory, IsEmptyWithoutHome) {
  const char* home = std::getenv("HOME");
  const std::string saved = home != nullptr ? home : "";
  ::setenv("HOME", "", 1);
  EXPECT_EQ(path::getLogDir(), "");
  ::unsetenv("HOME");
  EXPECT_EQ(path::getLogDir(), "");
  ::setenv("HOME", saved.c_str(), 1);
}

TEST(Errors, LongFormNamesTheKindAndThePlaceWhenThereIsOne) {
  const FileError file("Bad file.", "virtual void korv::cli::ImportProbes::Perform()", 42);
  EXPECT_STREQ(file.what(), "Bad file.");
  EXPECT_EQ(file.to_string(),
            "FileError (virtual void korv::cli::ImportProbes::Perform()@42): Bad file.");

  const FileError placeless("Bad file.", "", 0);
  EXPECT_EQ(placeless.to_string(), "FileErrorBad file.");

  const ResponseValidationError response(kResponseParseFailure, "void f()", 7);
  EXPECT_EQ(response.to_string(),
            "Response Validation Error (void f()@7): Failed to parse the response from the KORV "
            "Server.");
}

TEST(Errors, HttpErrorCarriesTheStatusOnlyInItsMessageAndLogsNoPlace) {
  const HTTPError error(500, "Boom", "void f()", 3);
  EXPECT_STREQ(error.what(), "HTTP (Error: 500): Boom");
  EXPECT_EQ(error.to_string(), "HTTP (Error: 500): Boom");
  EXPECT_STREQ(HTTPError(404, "", "", 0).what(), "HTTP (Error: 404): ");
}

TEST(ScopeGuard, RunsOnReturnAndOnErrorAndSwallowsWhatTheFunctionThrows) {
  int calls = 0;
  {
    Scope guard([&] { ++calls; });
  }
  EXPECT_EQ(calls, 1);
  try {
    Scope guard([&] { ++calls; });
    throw std::runtime_error("leaving");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(calls, 2);
  EXPECT_NO_THROW({ Scope guard([] { throw std::runtime_error("inside"); }); });
}

}  // namespace
}  // namespace korv
