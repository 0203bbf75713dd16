// Servers that break HTTP: connections dropped at every stage, bodies cut short or declared longer
// than sent, oversized and malformed header lines, a 204 with a body, an HTML error page and a
// redirect. Each ends in the documented error and status, and the token is still given back.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/cli_test.h"
#include "tests/support/raw_server.h"

namespace korv::test {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

constexpr char kParseFailure[] = "Failed to parse the response from the KORV Server.\n";
constexpr char kAccessFailure[] =
    "Failed to access the KORV REST API Server.\nPlease check the log file for more information.\n";
constexpr char kReleased[] = "Token released..";
constexpr char kTransportWarning[] = "Failed curl_easy_perform(..) with error code: ";

// A header line of the given length, its CR LF included.
std::string headerLine(size_t length) {
  return "X-Padding: " + std::string(length - 13, 'a') + "\r\n";
}
const std::string kLongHeader = headerLine(102401);
const std::string kHtmlPage = "<html><body><h1>Internal Server Error</h1></body></html>";

// What a misbehaving answer does to a run.
struct Misbehaviour {
  const char* what;
  RawAnswer answer;
  // The libcurl result code logged for a transport failure; 0 for none, -1 for any.
  long curlCode;
};

// The answers of a second server that must never be contacted: a redirect leads there.
std::string redirectTo(const RawServer& elsewhere, const std::string& path,
                       const std::string& body) {
  return HttpResponse(302, body, {"Location: " + elsewhere.BaseUrl() + path});
}

class MisbehavingServer : public CliTest {
 protected:
  void SetUp() override { environment.push_back("KORV_API_PASSWORD=secret"); }

  ProcessResult List(const RawServer& raw) {
    ::unlink(LogPath().c_str());
    return Run({"-p", raw.BaseUrl(), "-u", "admin", "list-probes"});
  }

  // The requests the server received whose request line starts so.
  static std::vector<std::string> Received(const RawServer& raw, const std::string& start) {
    std::vector<std::string> found;
    for (const auto& request : raw.Requests()) {
      if (request.rfind(start, 0) == 0) {
        found.push_back(request);
      }
    }
    return found;
  }

  // The log names the libcurl failure, or holds none.
  void ExpectTransportWarning(long code) {
    if (code > 0) {
      EXPECT_THAT(Log(), HasSubstr(kTransportWarning + std::to_string(code) +
                                   ", error: CURL: " + std::to_string(code) + " "));
    } else if (code < 0) {
      EXPECT_THAT(Log(), HasSubstr(kTransportWarning));
    } else {
      EXPECT_THAT(Log(), Not(HasSubstr(kTransportWarning)));
    }
  }

  RawServer elsewhere;
};

TEST_F(MisbehavingServer, ListAnswerThatBreaksHttpIsUnparsableAndTheTokenIsStillReleased) {
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n";
  const std::string body = R"([{"id":1,"name":"cpu","enabled":true}])";
  const Misbehaviour cases[] = {
      {"an empty reply", {"", true}, 52},
      {"a drop in the status line", {"HTTP/1.1 20", true}, 52},
      // libcurl takes the end of the connection for the end of the headers.
      {"a drop between the header lines", {head + "Content-Len", true}, 0},
      {"a drop after the headers", {head + "Content-Length: 40\r\n\r\n", true}, 18},
      {"a drop in the middle of the body",
       {head + "Content-Length: 40\r\n\r\n" + body.substr(0, 20), true},
       18},
      // The part that arrived is JSON, but the transfer failed.
      {"a body declared longer than sent", {head + "Content-Length: 100\r\n\r\n[]", true}, 18},
      {"a chunked body cut in a chunk",
       {head + "Transfer-Encoding: chunked\r\n\r\n20\r\n" + body.substr(0, 10), true},
       18},
      // Without a length the end of the connection ends the body: libcurl cannot tell.
      {"a truncated body", {head + "Connection: close\r\n\r\n" + body.substr(0, 20), true}, 0},
      {"a header line over 102400 bytes",
       {"HTTP/1.1 200 OK\r\n" + kLongHeader + "Content-Length: 2\r\n\r\n[]"},
       -1},
      // libcurl refuses it as a weird reply.
      {"a header line without a colon",
       {"HTTP/1.1 200 OK\r\nNo colon on this line\r\nContent-Length: 2\r\n\r\n[]"},
       8},
      {"a 204 with a body", {"HTTP/1.1 204 No Content\r\nContent-Length: 2\r\n\r\n[]"}, 0},
      {"an HTML error page",
       {HttpResponse(500, kHtmlPage, {"Content-Type: text/html; charset=utf-8"})},
       0},
  };
  for (const auto& [what, answer, curlCode] : cases) {
    SCOPED_TRACE(what);
    RawServer raw;
    raw.ServeSession();
    raw.On("GET", "/api/v11/probe/", answer);
    const ProcessResult result = List(raw);
    EXPECT_EQ(result.status, 4);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, kParseFailure);
    ExpectTransportWarning(curlCode);
    // Given back on a connection of its own when the server closed the first one.
    EXPECT_THAT(Received(raw, "DELETE /api/token/ "),
                Contains(HasSubstr("X-Auth-Token:  tok-123\r\n")));
    EXPECT_THAT(Log(), HasSubstr(kReleased));
    if (answer.close) {
      EXPECT_GE(raw.Connections(), 2u);
    }
  }
}

TEST_F(MisbehavingServer, HeaderLineJustBelowTheLimitIsAccepted) {
  RawServer raw;
  raw.ServeSession();
  // libcurl itself refuses a line of 102400 bytes with its CR LF; the longest it passes on must
  // not be refused by the client.
  raw.On("GET", "/api/v11/probe/",
         {"HTTP/1.1 200 OK\r\n" + headerLine(102399) + "Content-Length: 2\r\n\r\n[]"});
  const ProcessResult result = List(raw);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "[]\n");
}

TEST_F(MisbehavingServer, RedirectIsNeverFollowedAndTheTokenGoesNowhereElse) {
  RawServer raw;
  raw.ServeSession();
  raw.On("GET", "/api/v11/probe/",
         {redirectTo(elsewhere, "api/v11/probe/", R"({"errormsg":"Moved elsewhere."})")});
  const ProcessResult result = List(raw);
  EXPECT_EQ(result.status, 4);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "HTTP (Error: 302): Moved elsewhere.\n");
  EXPECT_THAT(Log(), HasSubstr(kReleased));
  EXPECT_EQ(elsewhere.Connections(), 0u);
}

TEST_F(MisbehavingServer, FailedLoginIsAnAccessFailureAndReleasesNothing) {
  const std::string created = "HTTP/1.1 201 Created\r\nX-Subject-Token: tok-123\r\n";
  const Misbehaviour cases[] = {
      {"an empty reply", {"", true}, 52},
      {"a drop after the headers", {created + "Content-Length: 60\r\n\r\n", true}, 18},
      {"a body declared longer than sent",
       {created + "Content-Length: 200\r\n\r\n" + R"({"supported_api_versions":["v11_api"]})",
        true},
       18},
      {"a header line over 102400 bytes",
       {created + kLongHeader + "Content-Length: 2\r\n\r\n{}"},
       -1},
      {"an HTML error page", {HttpResponse(500, kHtmlPage, {"Content-Type: text/html"})}, 0},
      {"a redirect",
       {redirectTo(elsewhere, "api/token/", R"({"supported_api_versions":["v11_api"]})")},
       0},
  };
  for (const auto& [what, answer, curlCode] : cases) {
    SCOPED_TRACE(what);
    RawServer raw;
    raw.On("POST", "/api/token/", answer);
    const ProcessResult result = List(raw);
    EXPECT_EQ(result.status, 105);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, kAccessFailure);
    ExpectTransportWarning(curlCode);
    EXPECT_THAT(Received(raw, "DELETE "), IsEmpty());
    EXPECT_THAT(Received(raw, "GET "), IsEmpty());
  }
  EXPECT_EQ(elsewhere.Connections(), 0u);
}

TEST_F(MisbehavingServer, LoginAnswerCutShortAfterTheTokenGivesTheTokenBack) {
  RawServer raw;
  raw.ServeSession();
  raw.On("POST", "/api/token/",
         {"HTTP/1.1 201 Created\r\nX-Subject-Token: tok-123\r\nConnection: close\r\n\r\n"
          R"({"supported_api_versions":["v1)",
          true});
  const ProcessResult result = List(raw);
  EXPECT_EQ(result.status, 105);
  EXPECT_EQ(result.err, kParseFailure);
  EXPECT_THAT(Received(raw, "GET "), IsEmpty());
  EXPECT_THAT(Received(raw, "DELETE /api/token/ "),
              Contains(HasSubstr("X-Auth-Token:  tok-123\r\n")));
  EXPECT_THAT(Log(), HasSubstr(kReleased));
}

TEST_F(MisbehavingServer, FailedTokenReleaseIsOnlyAWarning) {
  const Misbehaviour cases[] = {
      {"an empty reply", {"", true}, 52},
      {"a header line over 102400 bytes",
       {"HTTP/1.1 204 No Content\r\n" + kLongHeader + "\r\n"},
       -1},
      {"an HTML error page", {HttpResponse(500, kHtmlPage, {"Content-Type: text/html"})}, 500},
      {"a redirect", {redirectTo(elsewhere, "api/token/", "")}, 302},
  };
  for (const auto& [what, answer, code] : cases) {
    SCOPED_TRACE(what);
    for (const bool listFails : {false, true}) {
      RawServer raw;
      raw.ServeSession();
      raw.On("DELETE", "/api/token/", answer);
      raw.On("GET", "/api/v11/probe/",
             {listFails ? HttpResponse(503, R"({"errormsg":"Busy."})") : HttpResponse(200, "[]")});
      const ProcessResult result = List(raw);
      EXPECT_EQ(result.status, listFails ? 4 : 0);
      EXPECT_EQ(result.out, listFails ? "" : "[]\n");
      EXPECT_EQ(result.err, listFails ? "HTTP (Error: 503): Busy.\n" : "");
      // libcurl tries a request once more on a new connection when a reused one gave nothing.
      EXPECT_THAT(Received(raw, "DELETE /api/token/ "), Not(IsEmpty()));
      EXPECT_THAT(Log(), HasSubstr("Couldn't release the token...\nResponse Code: " +
                                   (code < 0 ? "" : std::to_string(code) + "\nWith Error: ")));
      EXPECT_THAT(Log(), Not(HasSubstr(kReleased)));
    }
  }
  EXPECT_EQ(elsewhere.Connections(), 0u);
}

}  // namespace
}  // namespace korv::test
