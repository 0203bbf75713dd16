#include <gtest/gtest.h>

#include "common/error.h"
#include "common/path.h"
#include "common/scope.h"
#include "common/string_utils.h"

namespace korv {
namespace {

TEST(StringHelpers, FormatReturnsResultsLongerThanAnyStackBufferAndTrimOnlyTouchesItsEnd) {
  const std::string longText(20000, 'a');
  EXPECT_EQ(string::format("<%s|%ld>", longText, 7L), "<" + longText + "|7>");

  std::string text = " \t\r\n a b \v\f\r\n";
  string::rtrim(text);
  EXPECT_EQ(text, " \t\r\n a b");
  string::ltrim(text);
  EXPECT_EQ(text, "a b");
  std::string blanks = " \t\r\n";
  string::rtrim(blanks);
  EXPECT_EQ(blanks, "");
  std::string highBytes = "\xA0value\xA0";  // not white space in the "C" locale
  string::rtrim(highBytes);
  EXPECT_EQ(highBytes, "\xA0value\xA0");
}

TEST(StringHelpers, AUrlsUserInformationIsHiddenHoweverTheUrlIsWritten) {
  const std::pair<const char*, const char*> cases[] = {
      {"https://user:pw@host:8443/korv/", "https://***@host:8443/korv/"},
      {"user:pw@host/korv", "***@host/korv"},
      {"//user@host/", "//***@host/"},
      // What ends the authority in a well-formed URL still counts as part of the password.
      {"https://user:p/w#x?y@host/", "https://***@host/"},
      {"host/a://b@c", "***@c"},
      {"https://host/korv/", "https://host/korv/"},
  };
  for (const auto& [url, shown] : cases) {
    EXPECT_EQ(string::hideUserInfo(url), shown) << url;
  }
}

TEST(MergePaths, AlwaysInsertsOneSlashEvenAfterAnEmptyPart) {
  EXPECT_EQ(path::mergePaths("", ".korv-cli.log"), "/.korv-cli.log");
  EXPECT_EQ(path::mergePaths("/home/u/", "x"), "/home/u//x");
}

TEST(Errors, LongFormNamesTheKindAndThePlaceWhenThereIsOneAndHttpErrorsNeither) {
  EXPECT_EQ(
      FileError("Bad file.", "virtual void korv::cli::ImportProbes::Perform()", 42).to_string(),
      "FileError (virtual void korv::cli::ImportProbes::Perform()@42): Bad file.");
  EXPECT_EQ(ResponseValidationError(kResponseParseFailure, "", 0).to_string(),
            "Response Validation ErrorFailed to parse the response from the KORV Server.");
  const HTTPError error(500, "Boom", "void f()", 3);
  EXPECT_STREQ(error.what(), "HTTP (Error: 500): Boom");
  EXPECT_EQ(error.to_string(), "HTTP (Error: 500): Boom");
  EXPECT_STREQ(HTTPError(404, "", "", 0).what(), "HTTP (Error: 404): ");
}

TEST(ScopeGuard, RunsWhenAnErrorLeavesTheScopeAndLetsNothingOut) {
  int calls = 0;
  try {
    Scope guard([&] { ++calls; });
    throw std::runtime_error("leaving");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(calls, 1);
  EXPECT_NO_THROW({ Scope guard([] { throw std::runtime_error("inside"); }); });
}

}  // namespace
}  // namespace korv
