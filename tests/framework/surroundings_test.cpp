// The tool in unusual surroundings: started without standard streams, given an input file it
// cannot read, asked for help.
#include <algorithm>
#include <regex>

#include <gtest/gtest.h>

#include "tests/support/cli_test.h"

namespace korv::test {
namespace {

class Surroundings : public CliTest {
 protected:
  void SetUp() override {
    server.ServeSession();
    server.On("GET", "/api/v11/probe/", Reply(200, "[]"));
  }
  StubServer server;
};

TEST_F(Surroundings, AClosedStandardStreamTakesNothingThatAFileOpenedLaterShouldGet) {
  ProcessOptions options;
  options.closedFds = {0, 1};
  ProcessResult result = RunAgainst(server, {"list-probes"}, options);
  EXPECT_EQ(result.status, 4);
  EXPECT_EQ(result.err, "Failed to write to the standard output.\n");
  EXPECT_EQ(server.RequestsTo("DELETE", "/api/token/").size(), 1u);

  options.closedFds = {2};
  result = RunAgainst(server, {"import-probes"}, options);
  EXPECT_EQ(result.status, 4);
  for (const std::string& line : Lines(Log())) {
    EXPECT_TRUE(std::regex_match(line, std::regex(R"(\d{4}-\d\d-\d\d .*)"))) << line;
  }
}

TEST_F(Surroundings, AnImportFileThatCannotBeReadOrLacksFieldsIsRefusedByTheCommand) {
  WriteFile(home / "empty.json", "{}");
  for (const std::string name : {"probes", "alert-templates"}) {
    const ProcessResult result = RunAgainst(server, {"import-" + name, "-i", home.Path()});
    EXPECT_EQ(result.status, 4);
    EXPECT_EQ(result.err, "Failed to read the input file '" + home.Path() + "'\n");
    EXPECT_EQ(RunAgainst(server, {"import-" + name, "-i", home / "empty.json"}).status, 4);
  }
  // The record of the missing fields names each command's own Perform.
  for (const char* command : {"ImportProbes", "ImportCustomAlertTemplates"}) {
    EXPECT_TRUE(std::regex_search(
        Log(), std::regex(R"(\[korv::cli::)" + std::string(command) +
                          R"(::Perform@\d+\] Input file '.*' does not contain the following)")))
        << command;
  }
}

TEST_F(Surroundings, HelpListsProbesBeforeAlertTemplatesEachByListExportImport) {
  const std::string help = Run({"--help"}).out;
  size_t at = 0;
  for (const char* name : {"list-probes", "export-probes", "import-probes", "list-alert-templates",
                           "export-alert-templates", "import-alert-templates"}) {
    at = help.find(std::string("  ") + name + " ", at);
    ASSERT_NE(at, std::string::npos) << name << " out of order in\n" << help;
  }
}

}  // namespace
}  // namespace korv::test
