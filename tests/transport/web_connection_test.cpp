#include "web/web_connection.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/log_capture.h"
#include "tests/support/raw_server.h"
#include "tests/support/stub_server.h"

namespace korv::web {
namespace {

using test::Reply;
using test::StubServer;
using ::testing::HasSubstr;
using ::testing::StartsWith;

TEST(WebConnection, KeepsItsFirstErrorTextThroughASuccess) {
  StubServer server;
  server.On("GET", "/ok", Reply(200, "fine"));
  WebConnection connection;
  EXPECT_EQ(connection.ResponseCode(), -1);
  EXPECT_EQ(connection.ErrorMessage(), "Not executed yet!");
  EXPECT_TRUE(connection.Perform(server.BaseUrl() + "ok", "GET", ""));
  EXPECT_EQ(connection.ResponseCode(), 200);
  EXPECT_EQ(connection.Response(), "fine");
  EXPECT_EQ(connection.ErrorMessage(), "Not executed yet!");
}

TEST(WebConnection, FailureStatusKeepsTheAnswerAndNamesItInTheErrorText) {
  StubServer server;
  Reply notFound(404, "no such thing");
  notFound.contentType = "text/plain";
  server.On("GET", "/missing", notFound);
  for (int status : {199, 300, 500}) {
    server.On("GET", "/status", Reply(status, "x"));
    WebConnection connection;
    EXPECT_FALSE(connection.Perform(server.BaseUrl() + "status", "GET", "")) << status;
  }
  server.On("GET", "/edge", Reply(299, "x"));
  EXPECT_TRUE(WebConnection().Perform(server.BaseUrl() + "edge", "GET", ""));

  WebConnection connection;
  EXPECT_FALSE(connection.Perform(server.BaseUrl() + "missing", "GET", ""));
  EXPECT_EQ(connection.ResponseCode(), 404);
  EXPECT_EQ(connection.Response(), "no such thing");
  EXPECT_EQ(connection.ErrorMessage(), "HTTP: 404no such thing");
}

TEST(WebConnection, ARefusedConnectionOrASchemeOtherThanHttpGivesLibcurlsCodeAndAWarning) {
  // Nothing listens on port 0, ever; a URL without a scheme is HTTP.
  for (const std::string url :
       {"http://127.0.0.1:0/", "127.0.0.1:0/", "ftp://127.0.0.1:0/", "telnet://127.0.0.1:0/",
        "gopher://127.0.0.1:0/", "file:///etc/hostname"}) {
    const std::string scheme = url.substr(0, url.find(':'));
    const bool http = scheme == "http" || url.find("://") == std::string::npos;
    const long code = http ? CURLE_COULDNT_CONNECT : CURLE_UNSUPPORTED_PROTOCOL;
    test::LogCapture log;
    WebConnection connection;
    EXPECT_FALSE(connection.Perform(url, "GET", ""));
    EXPECT_EQ(connection.ResponseCode(), code) << url;
    EXPECT_EQ(connection.Response(), "");
    EXPECT_THAT(connection.ErrorMessage(),
                HasSubstr(http ? "Couldn't connect to server"
                               : "Protocol \"" + scheme + "\" not supported"));
    EXPECT_THAT(log.Text(), ::testing::ContainsRegex(
                                " WARN  .* Failed curl_easy_perform\\(\\.\\.\\) with error code: " +
                                std::to_string(code) + ", error: CURL: "));
  }
}

TEST(WebConnection, StoresHeaderValuesWithTheirBlankAndCarriageReturnAndTheLastOfAnyLetterCase) {
  StubServer server;
  server.On("GET", "/h",
            Reply(200, "{}",
                  {{"X-Subject-Token", "abc"},
                   {"X-Twice", "first"},
                   {"X-Twice", "second"},
                   {"x-subject-token", "lower"}}));
  WebConnection connection;
  ASSERT_TRUE(connection.Perform(server.BaseUrl() + "h", "GET", ""));
  const auto& headers = connection.ResponseHeaders();
  EXPECT_EQ(headers.at("X-Subject-Token"), " lower\r");
  EXPECT_EQ(headers.at("X-SUBJECT-TOKEN"), " lower\r");
  EXPECT_EQ(headers.at("X-Twice"), " second\r");
  for (const auto& [name, value] : headers) {
    EXPECT_THAT(name, ::testing::Not(StartsWith("HTTP/"))) << "the status line was stored";
  }
}

TEST(WebConnection, SendsABodyOnlyWhenThereIsAPayload) {
  StubServer server;
  server.On("DELETE", "/thing", Reply(204, ""));
  server.On("POST", "/thing", Reply(201, "{}"));
  WebConnection deleting;
  EXPECT_TRUE(deleting.Perform(server.BaseUrl() + "thing", "DELETE", ""));
  WebConnection posting;
  posting.AddHeader("Content-Type", "application/json");
  EXPECT_TRUE(posting.Perform(server.BaseUrl() + "thing", "POST", R"({"a":1})"));

  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].method, "DELETE");
  EXPECT_EQ(requests[0].body, "");
  EXPECT_EQ(requests[0].HeaderCount("Content-Length"), 0u);
  EXPECT_EQ(requests[1].method, "POST");
  EXPECT_EQ(requests[1].body, R"({"a":1})");
  EXPECT_EQ(requests[1].Header("User-Agent"), "korv_cli");
}

TEST(WebConnection, SendsAddedHeaderLinesInOrderAndBothOfARepeatedName) {
  test::RawServer server;
  server.On("GET", "/h", {test::HttpResponse(200, "{}")});
  WebConnection connection;
  connection.AddHeader("Content-Type", "application/json");
  connection.AddHeader("X-Auth-Token", " tok");
  connection.AddHeader("X-Auth-Token", "again");
  ASSERT_TRUE(connection.Perform(server.BaseUrl() + "h", "GET", ""));
  const std::string request = server.Requests().at(0);
  const size_t type = request.find("\r\nContent-Type: application/json\r\n");
  const size_t token = request.find("\r\nX-Auth-Token:  tok\r\n");
  ASSERT_NE(type, std::string::npos) << request;
  ASSERT_NE(token, std::string::npos) << request;
  EXPECT_LT(type, token);
  EXPECT_NE(request.find("\r\nX-Auth-Token: again\r\n"), std::string::npos);
}

TEST(WebConnection, SetOptionKnowsOnlyItsNamesAndTheOptionsReachTheRequest) {
  WebConnection connection;
  EXPECT_TRUE(connection.SetOption("mail_reciept", std::vector<std::string>{"a@x", "b@x"}));
  EXPECT_FALSE(connection.SetOption("mail_receipt", std::vector<std::string>{"a@x"}));
  EXPECT_FALSE(connection.SetOption("Username", std::string("bob")));
  EXPECT_TRUE(connection.SetOption("ssl_verifypeer", 0L));
  EXPECT_TRUE(connection.SetOption("username", std::string("bob")));
  EXPECT_TRUE(connection.SetOption("password", std::string("pw")));

  StubServer server;
  server.On("GET", "/auth", Reply(200, "{}"));
  ASSERT_TRUE(connection.Perform(server.BaseUrl() + "auth", "GET", ""));
  EXPECT_EQ(server.Requests().at(0).Header("Authorization"), "Basic Ym9iOnB3");
}

TEST(WebConnection, AHeaderLineOverTheLimitFailsTheTransfer) {
  // libcurl's own limit stops such a line a byte earlier than the header callback would.
  test::RawServer server;
  const auto line = [](size_t total) { return "X-Big: " + std::string(total - 9, 'h'); };
  server.On("GET", "/fits", {test::HttpResponse(200, "{}", {line(102399)})});
  server.On("GET", "/big", {test::HttpResponse(200, "{}", {line(102401)})});
  WebConnection fits;
  EXPECT_TRUE(fits.Perform(server.BaseUrl() + "fits", "GET", ""));
  WebConnection big;
  EXPECT_FALSE(big.Perform(server.BaseUrl() + "big", "GET", ""));
  EXPECT_THAT(big.ResponseCode(), ::testing::AnyOf(CURLE_WRITE_ERROR, CURLE_OUT_OF_MEMORY));
  EXPECT_THAT(big.ErrorMessage(), StartsWith("CURL: "));

  HeaderMap headers;
  std::string over = line(102401) + "\r\n";
  std::string limit = line(102400) + "\r\n";
  EXPECT_EQ(HeaderCallback(over.data(), 1, over.size(), &headers), 0u);
  EXPECT_EQ(HeaderCallback(limit.data(), 1, limit.size(), &headers), limit.size());
}

TEST(WebConnection, TheBodyCallbackRefusesAChunkThatWouldPassTheLimitWithoutReadingIt) {
  std::string body = "[";
  char blank = ' ';
  EXPECT_EQ(WriteCallback(&blank, 1, kMaxResponseSize, &body), 0u);
  EXPECT_EQ(WriteCallback(&blank, 1, 1, &body), 1u);
  EXPECT_EQ(body, "[ ");
}

TEST(WebConnection, VerifiesCertificatesUnlessToldNotTo) {
  StubServer server(StubServer::Scheme::Https);
  server.On("GET", "/secure", Reply(200, "{}"));
  WebConnection verified;
  EXPECT_FALSE(verified.Perform(server.BaseUrl() + "secure", "GET", ""));
  EXPECT_EQ(verified.ResponseCode(), CURLE_PEER_FAILED_VERIFICATION);

  WebConnection insecure;
  insecure.AllowInsecure(true);
  EXPECT_TRUE(insecure.Perform(server.BaseUrl() + "secure", "GET", ""));
  EXPECT_EQ(insecure.Response(), "{}");
}

TEST(WebConnection, TrustsACertificateAuthorityBundleItIsGiven) {
  StubServer server(StubServer::Scheme::Https);
  server.On("GET", "/secure", Reply(200, "{}"));
  WebConnection connection;
  EXPECT_TRUE(connection.SetSSLCA(test::TestCertificate().certPath));
  EXPECT_TRUE(connection.Perform(server.BaseUrl() + "secure", "GET", ""));
}

TEST(WebConnection, RefusesTlsFilesThatDoNotExistAndSaysWhy) {
  test::LogCapture log;
  WebConnection connection;
  EXPECT_FALSE(connection.SetSSLCert("/nonexistent/cert.pem"));
  EXPECT_THAT(log.Text(), HasSubstr("[WebConnection] SSL Certificate File '/nonexistent/cert.pem' "
                                    "does not exist or don't have enough permission. (error: No "
                                    "such file or directory)"));
  EXPECT_TRUE(connection.SetSSLCA(""));
}

}  // namespace
}  // namespace korv::web
