#include "api/session.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <sstream>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "api/rest_api.h"
#include "api/settings.h"
#include "common/scope.h"
#include "tests/support/log_capture.h"
#include "tests/support/raw_server.h"
#include "tests/support/stub_server.h"
#include "tests/support/temp_dir.h"

namespace korv::cli::api {
namespace {

using test::Reply;
using test::StubServer;
using ::testing::HasSubstr;

constexpr char kAccessFailed[] =
    "Failed to access the KORV REST API Server.\nPlease check the log file for more information.";

class Session : public ::testing::Test {
 protected:
  void SetUp() override {
    ::unsetenv("KORV_API_PASSWORD");
    setURL({server.BaseUrl()});
    user = "admin";
    password = "secret";
    token.clear();
    supportedApiVersions.clear();
    secureConnection = true;
  }
  void TearDown() override { token.clear(); }

  // The message of the validation error that init raises, or "" when it succeeds.
  std::string InitError() {
    try {
      init();
      return "";
    } catch (const CLI::ValidationError& e) {
      EXPECT_EQ(e.get_exit_code(), 105);
      return e.what();
    }
  }
  void AnswerLogin(int status, const std::string& body,
                   std::vector<std::pair<std::string, std::string>> headers = {
                       {"X-Subject-Token", "tok-123"}}) {
    server.On("POST", "/api/token/", Reply(status, body, std::move(headers)));
  }

  StubServer server;
};

TEST_F(Session, SendsTheFilesPasswordBeforeTheEnvironmentsAsEscapedJsonAndKeepsTokenAndVersions) {
  test::TempDir dir;
  test::WriteFile(dir / "password", "\n  \t\n from \"file\" \r\nsecond line\n");
  ::setenv("KORV_API_PASSWORD", "from environment", 1);
  password.clear();
  ASSERT_TRUE(setPasswordFile({dir / "password"}));
  server.ServeSession("tok-123", {"v10_api", "v11_api"});
  user = "ad\"min\\";

  EXPECT_EQ(InitError(), "");
  const auto logins = server.RequestsTo("POST", "/api/token/");
  ASSERT_EQ(logins.size(), 1u);
  EXPECT_EQ(logins[0].body, R"({"password":" from \"file\" \r","username":"ad\"min\\"})");
  EXPECT_EQ(logins[0].Header("Content-Type"), "application/json");
  EXPECT_EQ(token, " tok-123");
  EXPECT_EQ(supportedApiVersions, (std::vector<std::string>{"v10_api", "v11_api"}));
}

TEST_F(Session, TakesThePasswordFromTheEnvironmentWhenNoFileGaveOne) {
  password.clear();
  ::setenv("KORV_API_PASSWORD", "env pw", 1);
  server.ServeSession();
  EXPECT_EQ(InitError(), "");
  EXPECT_EQ(nlohmann::json::parse(server.Requests().at(0).body).at("password"), "env pw");
}

TEST_F(Session, WithoutUserOrPasswordSendsNothing) {
  password.clear();
  EXPECT_EQ(InitError(), "Provide username and password to continue.");
  ::setenv("KORV_API_PASSWORD", "", 1);
  EXPECT_EQ(InitError(), "Provide username and password to continue.");
  password = "secret";
  user.clear();
  EXPECT_EQ(InitError(), "Provide username and password to continue.");
  EXPECT_TRUE(server.Requests().empty());
}

TEST_F(Session, RefusesCredentialsThatAreNotUtf8BeforeSendingAnything) {
  password = "\xff\xfe";
  test::LogCapture log;
  EXPECT_EQ(InitError(), kAccessFailed);
  EXPECT_TRUE(server.Requests().empty());
  EXPECT_THAT(log.Text(), HasSubstr("not valid UTF-8"));
}

TEST_F(Session, AcceptsOnly201AndTellsARejectedUserFromOtherFailures) {
  const std::string versions = R"({"supported_api_versions":["v11_api"]})";
  AnswerLogin(200, versions);
  EXPECT_EQ(InitError(), kAccessFailed);
  AnswerLogin(401, R"({"errormsg":"no"})");
  EXPECT_EQ(InitError(),
            "User authentication failed.\nPlease check if user exists in the KORV backend "
            "database server.\nPlease check if user has correct privileges to run the REST "
            "APIs.\n");
  for (int status : {403, 500}) {
    AnswerLogin(status, versions);
    EXPECT_EQ(InitError(), kAccessFailed) << status;
  }
  EXPECT_EQ(token, "");
}

TEST_F(Session, AnUnreachableServerOrAnotherSchemeIsAnAccessFailureWithTheDetailInTheLog) {
  for (const auto& [scheme, detail] : std::vector<std::pair<std::string, std::string>>{
           {"http", "error code: 7"},
           {"ftp",
            "error code: 1, error: CURL: 1 Unsupported protocol Protocol \"ftp\" not supported"}}) {
    setURL({scheme + "://127.0.0.1:0"});  // nothing listens on port 0
    test::LogCapture log;
    EXPECT_EQ(InitError(), kAccessFailed);
    EXPECT_THAT(log.Text(), HasSubstr("Failed curl_easy_perform(..) with " + detail));
  }
}

TEST_F(Session, TakesATokenHeaderInAnyLetterCaseAndAMissingOneLeavesTheTokenEmptyWithoutError) {
  AnswerLogin(201, R"({"supported_api_versions":["v11_api"]})", {{"x-subject-token", "t"}});
  EXPECT_EQ(InitError(), "");
  EXPECT_EQ(token, " t");
  AnswerLogin(201, R"({"supported_api_versions":["v11_api"]})", {});
  EXPECT_EQ(InitError(), "");
  EXPECT_EQ(token, "");
}

TEST_F(Session, RefusesLoginAnswersWithoutAListOfVersionStrings) {
  AnswerLogin(201, "not json");
  EXPECT_EQ(InitError(), "Failed to parse the response from the KORV Server.");
  for (const char* body : {"", R"({"supported_api_versions":[],"x":1e400})"}) {
    AnswerLogin(201, body);
    EXPECT_EQ(InitError(), "Failed to parse the response from the KORV Server.") << body;
  }
  for (const char* body : {R"([])", R"({})", R"({"supported_api_versions":["v11_api",1]})",
                           R"({"supported_api_versions":"v11_api"})", R"(null)"}) {
    AnswerLogin(201, body);
    EXPECT_EQ(InitError(), "Failed to fetch the supported API versions from the response.") << body;
  }
}

TEST_F(Session, ReleasesTheTokenAndForgetsIt) {
  server.ServeSession("tok-123");
  ASSERT_EQ(InitError(), "");
  test::LogCapture log;
  finish();
  const auto releases = server.RequestsTo("DELETE", "/api/token/");
  ASSERT_EQ(releases.size(), 1u);
  EXPECT_EQ(releases[0].Header("X-Auth-Token"), "tok-123");
  EXPECT_EQ(token, "");
  EXPECT_THAT(log.Text(), HasSubstr("Token released.."));
  finish();
  EXPECT_EQ(server.RequestsTo("DELETE", "/api/token/").size(), 1u);
}

TEST_F(Session, AFailedReleaseIsOnlyAWarningAndKeepsTheToken) {
  server.ServeSession("tok-123");
  ASSERT_EQ(InitError(), "");
  server.On("DELETE", "/api/token/", Reply(401, "denied"));
  test::LogCapture log;
  EXPECT_NO_THROW(finish());
  EXPECT_EQ(token, " tok-123");
  EXPECT_THAT(log.Text(),
              HasSubstr("Couldn't release the token...\nResponse Code: 401\nWith Error: "
                        "HTTP: 401denied\n"));
}

class VersionedConnection : public Session {};

TEST_F(VersionedConnection, IsRefusedForAnyOtherSpellingWithAWarningAndALineForTheUser) {
  // Standard error goes to a text while a call runs.
  const auto errorOf = [](bool report) {
    std::ostringstream text;
    std::streambuf* const previous = std::cerr.rdbuf(text.rdbuf());
    const Scope restore([previous] { std::cerr.rdbuf(previous); });
    EXPECT_EQ(web::API::Get("v11", report), nullptr);
    return text.str();
  };
  for (const auto& versions :
       std::vector<std::vector<std::string>>{{"v10_api"}, {"V11_api"}, {"v11"}, {"v11_api2"}, {}}) {
    server.ServeSession("tok-123", versions);
    test::LogCapture log;
    EXPECT_EQ(errorOf(true), "KORV Server is not compatible with this utility.\n");
    EXPECT_THAT(log.Text(), HasSubstr(" WARN  "));
    EXPECT_THAT(log.Text(), HasSubstr("Connected KORV doesn't support the API version 'v11'."));
  }
  EXPECT_EQ(errorOf(false), "");
}

TEST_F(VersionedConnection, SendsToTheVersionedPathWithTheToken) {
  setURL({server.BaseUrl() + "korv"});
  server.On("POST", "/korv/api/token/",
            Reply(201, R"({"supported_api_versions":["v10_api","v11_api"]})",
                  {{"X-Subject-Token", "t1"}}));
  server.On("GET", "/korv/api/v11/alert/template/", Reply(200, "[]"));
  auto connection = web::API::Get("v11", true);  // the server lists v10_api and v11_api
  ASSERT_NE(connection, nullptr);
  connection->AddHeader("Content-Type", "application/json");
  EXPECT_TRUE(connection->Perform("/alert/template/", "GET", ""));
  const auto requests = server.RequestsTo("GET", "/korv/api/v11/alert/template/");
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].Header("X-Auth-Token"), "t1");
  EXPECT_EQ(requests[0].HeaderCount("X-Auth-Token"), 1u);
  EXPECT_EQ(requests[0].Header("Content-Type"), "application/json");
}

TEST_F(VersionedConnection, SendsTheTokenAsStoredWithItsLeadingBlank) {
  test::RawServer raw;
  raw.ServeSession();
  raw.On("GET", "/api/v11/probe/", {test::HttpResponse(200, "[]")});
  setURL({raw.BaseUrl()});
  auto connection = web::API::Get("v11", true);
  ASSERT_NE(connection, nullptr);
  connection->Perform("/probe/", "GET", "");
  EXPECT_THAT(raw.Requests().at(1), HasSubstr("\r\nX-Auth-Token:  tok-123\r\n"));
}

TEST_F(VersionedConnection, ReachesASelfSignedServerOnlyWhenInsecure) {
  StubServer tls(StubServer::Scheme::Https);
  tls.ServeSession();
  setURL({tls.BaseUrl()});
  EXPECT_EQ(InitError(), kAccessFailed);
  useInsecureConnection();
  EXPECT_EQ(InitError(), "");
  finish();
  EXPECT_EQ(tls.RequestsTo("DELETE", "/api/token/").size(), 1u);
}

}  // namespace
}  // namespace korv::cli::api
