// One request on its way: an import body sent whole at every log level and never twice, nothing
// opened for a URL of another scheme, and the log's account of the transfer.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/cli_test.h"

namespace korv::test {
namespace {

using ::testing::HasSubstr;

constexpr char kParseFailure[] = "Failed to parse the response from the KORV Server.\n";
constexpr char kProbeImport[] = "/api/v11/probe/custom/import/";

class LargeImport : public ServerTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(LargeImport, OfAFileOverOneMebibyteIsSentWholeOnceAndTheTokenReleased) {
  std::string items;
  for (int i = 0; i < 30000; ++i) {
    items += R"({"id":1,"name":"item number )" + std::to_string(i) + R"("},)";
  }
  // The command, its items key, the switches of its request and the path it is sent to.
  const std::tuple<const char*, std::string, const char*, const char*> imports[] = {
      {"import-probes", "probes", R"("skip_overwrite":false,)", kProbeImport},
      {"import-alert-templates", "alert_templates",
       R"("skip_overwrite":false,"skip_overwrite_probe":false,)", "/api/v11/alert/custom/import/"}};
  for (const auto& [command, key, switches, path] : imports) {
    WriteFile(home / key, R"({"version":1,")" + key + R"(":[)" + items + "{}]}");
    server.On("POST", path, Reply(200, R"({"result":[]})"));
    EXPECT_EQ(Showing(RunAgainst({"-l", GetParam(), command, "-i", home / key})),
              (Shown{0, "", ""}));
    const auto sent = server.RequestsTo("POST", path);
    EXPECT_TRUE(sent.size() == 1 && sent[0].body == R"({")" + key + R"(":[)" + items + "{}]," +
                                                        switches + R"("version":1})");
  }
  EXPECT_EQ(Releases(), 2u);
}

INSTANTIATE_TEST_SUITE_P(EveryLevel, LargeImport, ::testing::Values("INFO", "DEBUG", "VERBOSE"),
                         [](const auto& info) { return std::string(info.param); });

class Request : public ServerTest {};

TEST_F(Request, AnImportWhoseConnectionClosesBeforeTheAnswerIsNeverSentAgainAndTheLogSaysSo) {
  // The server reads the import on the kept-alive connection of the login and closes it.
  server.On("POST", kProbeImport, Raw("", true));
  WriteFile(home / "probes.json", R"({"version":1,"probes":[{"name":"cpu"}]})");
  // The body written while it is sent, and written whole first for the debug log.
  for (const char* level : {"INFO", "DEBUG"}) {
    EXPECT_EQ(Showing(RunAgainst({"-l", level, "import-probes", "-i", home / "probes.json"})),
              (Shown{4, "", kParseFailure}));
  }
  EXPECT_EQ(server.RequestsTo("POST", kProbeImport).size(), 2u);
  EXPECT_THAT(Log(), HasSubstr("error: CURL: 52 Server returned nothing (no headers, no data) The "
                               "request went out whole before its connection closed: it is not "
                               "sent again.\n"));
  // Each line of the transfers comes from the function that performs them.
  for (const char* text : {"Calling with URL=", "Response Code: ", "curl_easy_perform returns: ",
                           "ResponseText: ", "Failed curl_easy_perform(..)"}) {
    const auto fromPerform = ::testing::AnyOf(::testing::Not(HasSubstr(text)),
                                              HasSubstr("] [korv::web::WebConnection::Perform@"));
    EXPECT_THAT(Lines(Log()), ::testing::AllOf(::testing::Contains(HasSubstr(text)),
                                               ::testing::Each(fromPerform)));
  }
}

TEST_F(Request, ToAUrlOfAnotherSchemeOpensNothingAndSendsNothing) {
  for (const std::string scheme : {"file", "ftp", "dict", "telnet"}) {
    // The server's address after "http://", or a directory.
    const std::string url =
        scheme + "://" + (scheme == "file" ? home.Path() : server.BaseUrl().substr(7));
    EXPECT_EQ(Showing(RunAgainst(url, {"-m", "2", "list-probes"})),
              (Shown{105, "",
                     "Failed to access the KORV REST API Server.\nPlease check the log "
                     "file for more information.\n"}))
        << url;
    // Refused before anything is opened.
    EXPECT_THAT(Log(), HasSubstr("Protocol \"" + scheme + "\" not supported"));
  }
  EXPECT_EQ(server.ConnectionCount(), 0u);
}

TEST_F(Request, TheImportsInfoRecordNamesAnItemsMemberThatIsNoArray) {
  WriteFile(home / "bad.json", R"({"version":1,"probes":{"cpu":1}})");
  RunAgainst({"import-probes", "-i", home / "bad.json"});
  EXPECT_THAT(Log(), HasSubstr("fields:\n- version: true, probes: object (not an array)\n"));
}

}  // namespace
}  // namespace korv::test
