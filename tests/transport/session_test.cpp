// A run's session: the login and its verdict, the check of the API version, the requests with the
// token and its release over one kept-alive connection, and where the password comes from and
// where it never goes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/cli_test.h"

namespace korv::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

constexpr char kAccessFailed[] =
    "Failed to access the KORV REST API Server.\nPlease check the log file for more "
    "information.\n";
constexpr char kParseFailure[] = "Failed to parse the response from the KORV Server.\n";
constexpr char kNoVersions[] = "Failed to fetch the supported API versions from the response.\n";
constexpr char kIncompatible[] = "KORV Server is not compatible with this utility.\n";

class Session : public ServerTest {
 protected:
  void SetUp() override { server.On("GET", "/api/v11/probe/", Reply(200, "[]")); }
};

TEST_F(Session, EndsInTheLoginsVerdictAndReleasesEveryTokenItObtained) {
  const auto login = [](int status, const std::string& body,
                        const char* tokenHeader = "X-Subject-Token") {
    return Reply(status, body, {{tokenHeader, "tok-123"}});
  };
  const std::string v11 = R"({"supported_api_versions":["v11_api"]})";
  // The login answer, what the run shows, and whether a token is given back.
  const std::tuple<Reply, Shown, bool> cases[] = {
      {login(201, v11), {0, "[]\n", ""}, true},
      // An HTTP/2 server sends every header name in lower case.
      {login(201, v11, "x-subject-token"), {0, "[]\n", ""}, true},
      {login(200, v11), {105, "", kAccessFailed}, false},
      {login(401, R"({"errormsg":"no"})"),
       {105, "",
        "User authentication failed.\nPlease check if user exists in the KORV backend database "
        "server.\nPlease check if user has correct privileges to run the REST APIs.\n\n"},
       false},
      {login(201, "not json"), {105, "", kParseFailure}, true},
      {login(201, "null"), {105, "", kNoVersions}, true},
      {login(201, R"({"supported_api_versions":["V11_api","v11","v11_api2"]})"),
       {6, "",
        kIncompatible +
            ("The server at '" + server.BaseUrl() + "' offers V11_api, v11, v11_api2.\n")},
       true},
  };
  for (const auto& [answer, shown, released] : cases) {
    server.On("POST", "/api/token/", answer);
    const size_t before = Releases();
    EXPECT_EQ(Showing(RunAgainst({"list-probes"})), shown) << answer.body;
    EXPECT_EQ(Releases(), before + (released ? 1 : 0)) << answer.body;
  }
  EXPECT_THAT(Log(), HasSubstr(" WARN  [")) << "a version mismatch is a warning";
  EXPECT_THAT(Log(), HasSubstr("] Connected KORV doesn't support the API version 'v11'.\n"));
}

TEST_F(Session,
       SendsTheFilesPasswordAndTheTokenAsTheyCameOverOneConnectionAndOnlyWarnsOfAFailedRelease) {
  const std::string exported = R"({"probes":[],"version":1})";
  server.On("POST", "/korv/api/v11/probe/custom/export/", Reply(200, exported));
  server.On(
      "POST", "/korv/api/token/",
      Reply(201, R"({"supported_api_versions":["v11_api"]})", {{"X-Subject-Token", "tok-123"}}));
  server.On("DELETE", "/korv/api/token/", Reply(401, "denied"));
  WriteFile(home / "password", "\n  \t\n from \"file\" \r\nsecond line\n");
  environment = {"KORV_API_PASSWORD=from environment"};
  EXPECT_EQ(Showing(Run({"-p", server.BaseUrl() + "korv", "-u", "ad\"min\\", "-f",
                         home / "password", "export-probes", "-i", "1"})),
            (Shown{0, exported, ""}));
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].body, R"({"password":" from \"file\" \r","username":"ad\"min\\"})");
  EXPECT_EQ(requests[1].Header("Content-Type"), "application/json");
  // The token is sent as the server gave it, with the blank after the colon.
  EXPECT_THAT(requests[1].text, HasSubstr("\r\nX-Auth-Token:  tok-123\r\n"));
  EXPECT_EQ(requests[1].HeaderCount("X-Auth-Token"), 1u);
  EXPECT_EQ(requests[1].Header("User-Agent"), "korv_cli");
  EXPECT_EQ(requests[2].method + " " + requests[2].path, "DELETE /korv/api/token/");
  EXPECT_EQ(requests[2].HeaderCount("Content-Length"), 0u);
  EXPECT_EQ(server.ConnectionCount(), 1u);
  EXPECT_THAT(Log(), HasSubstr("Couldn't release the token...\nResponse Code: 401\nWith Error: "
                               "HTTP: 401denied\n"));
}

TEST_F(Session, RefusesToLogInWithoutUsableCredentialsOrServer) {
  const std::string file = home / "password", url = server.BaseUrl();
  WriteFile(file, "secret\n", 0604);                // the driver's tests refuse group access
  const std::string gone = StubServer().BaseUrl();  // closed again at once
  // The server and password file options, the password variable, and the status and part of
  // standard error the run ends in.
  const std::tuple<std::vector<std::string>, std::string, int, std::string> cases[] = {
      {{"-p", url, "-f", file}, "KORV_API_PASSWORD=secret", 103, "has group or world access"},
      {{"-p", url}, "KORV_API_PASSWORD=", 105, "Provide username and password to continue.\n"},
      {{"-p", url}, "KORV_API_PASSWORD=\xff\xfe", 105, kAccessFailed},
      {{"-p", gone}, "KORV_API_PASSWORD=secret", 105, kAccessFailed}};
  for (auto [args, variable, status, err] : cases) {
    environment = {variable};
    args.insert(args.end(), {"-u", "a", "list-probes"});
    const ProcessResult result = Run(args);
    EXPECT_EQ(result.status, status) << variable;
    EXPECT_THAT(result.err, HasSubstr(err)) << variable;
  }
  EXPECT_TRUE(server.Requests().empty());
  EXPECT_THAT(Log(), HasSubstr("not valid UTF-8"));
  EXPECT_THAT(Log(), HasSubstr("Failed curl_easy_perform(..) with error code: 7, error: CURL: 7 "));
}

TEST_F(Session, KeepsThePasswordOutOfEveryOutputAndLogFileAtTheMostVerboseLevel) {
  // Quotes and a backslash, so that the JSON login body writes it differently from how it reads;
  // the tail alone is searched for, which finds it in any spelling.
  const std::string password = "pa\"ss\\w0rd-Zq8", tail = "w0rd-Zq8";
  // An answer large enough that logging it in full makes the log roll.
  server.On("GET", "/api/v11/probe/", Reply(200, "[" + std::string(120000, ' ') + "]"));
  server.On("POST", "/api/v11/probe/custom/export/", Reply(400, R"({"errormsg":"No."})"));
  // From the file on a run that succeeds, from the environment on one the server refuses.
  WriteFile(home / "password", "\n" + password + "\n");
  const ProcessResult fromFile =
      RunAgainst({"-f", home / "password", "-l", "VERBOSE", "list-probes"});
  environment = {"KORV_API_PASSWORD=" + password};
  const ProcessResult fromEnvironment = RunAgainst({"-l", "VERBOSE", "export-probes"});
  for (const ProcessResult& result : {fromFile, fromEnvironment}) {
    EXPECT_THAT(result.out + result.err, Not(HasSubstr(tail)));
  }
  // Every run logged in with the password, so it passed every place that could show it.
  const auto logins = server.RequestsTo("POST", "/api/token/");
  ASSERT_EQ(logins.size(), 2u);
  for (const auto& login : logins) {
    EXPECT_EQ(login.body, R"({"password":"pa\"ss\\w0rd-Zq8","username":"admin"})");
  }
  // A password in the server's URL shows as stars.
  EXPECT_EQ(RunAgainst("https://admin:s3c/r#et-Zq8@korv.invalid/", {"list-probes"}).err,
            "Marlformed url: 'https://***@korv.invalid/'\n");
  EXPECT_THAT(Log(), HasSubstr(" DEBUG "));
  EXPECT_TRUE(Exists(home / ".korv-cli.1.log")) << "the log rolled";
  for (const auto& name : Entries(home.Path())) {
    if (name != "password") {
      EXPECT_THAT(ReadFile(home / name), Not(HasSubstr("Zq8"))) << name;
    }
  }
}

}  // namespace
}  // namespace korv::test
