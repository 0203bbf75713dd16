// Servers that break HTTP: connections dropped at every stage, bodies cut short or declared longer
// than sent, oversized and malformed header lines, a 204 with a body, an HTML error page and a
// redirect. Each ends in the documented error and status, and the token is still given back.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/cli_test.h"
#include "tests/support/raw_server.h"

namespace korv::test {
namespace {

using ::testing::AllOf;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::StartsWith;

constexpr char kParseFailure[] = "Failed to parse the response from the KORV Server.\n";

class MisbehavingServer : public CliTest {};

TEST_F(MisbehavingServer, BreakingHttpEndsInTheDocumentedErrorAndTheTokenIsStillReleased) {
  struct Case {
    const char* what;
    RawAnswer answer;  // to the list request, unless the path says otherwise
    std::string err = kParseFailure;
    int status = 4;
    const char* method = "GET";
    const char* path = "/api/v11/probe/";
  };
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n";
  const std::string body = R"([{"id":1,"name":"cpu","enabled":true}])";
  RawServer elsewhere;  // where the redirect leads; never contacted
  const Case cases[] = {
      {"an empty reply", {"", true}},
      {"a drop before the headers", {"HTTP/1.1 20", true}},
      {"a drop after the headers", {head + "Content-Length: 40\r\n\r\n", true}},
      {"a drop in the middle of the body",
       {head + "Content-Length: 40\r\n\r\n" + body.substr(0, 20), true}},
      // Without a length the end of the connection ends the body: libcurl cannot tell.
      {"a truncated body", {head + "Connection: close\r\n\r\n" + body.substr(0, 20), true}},
      // The part that arrived is JSON, but the transfer failed.
      {"a body declared longer than sent", {head + "Content-Length: 100\r\n\r\n[]", true}},
      {"a header line over 102400 bytes",
       {head + "X-Padding: " + std::string(102400, 'a') + "\r\nContent-Length: 2\r\n\r\n[]"}},
      {"a header line without a colon", {head + "No colon here\r\nContent-Length: 2\r\n\r\n[]"}},
      {"a 204 with a body", {"HTTP/1.1 204 No Content\r\nContent-Length: 2\r\n\r\n[]"}},
      {"an HTML error page",
       {HttpResponse(500, "<html><body><h1>Internal Server Error</h1></body></html>",
                     {"Content-Type: text/html; charset=utf-8"})}},
      {"a redirect",
       {HttpResponse(302, R"({"errormsg":"Moved."})",
                     {"Location: " + elsewhere.BaseUrl() + "api/v11/probe/"})},
       "HTTP (Error: 302): Moved.\n"},
      // The token came before the answer turned out unreadable, so it is given back.
      {"a login answer cut short after the token",
       {"HTTP/1.1 201 Created\r\nX-Subject-Token: tok-123\r\nConnection: close\r\n\r\n"
        R"({"supported_api_versions":["v1)",
        true},
       kParseFailure,
       105,
       "POST",
       "/api/token/"},
  };
  for (const auto& [what, answer, err, status, method, path] : cases) {
    SCOPED_TRACE(what);
    RawServer raw;
    raw.ServeSession();
    raw.On(method, path, answer);
    const ProcessResult result = RunAgainst(raw.BaseUrl(), {"list-probes"});
    EXPECT_EQ(result.status, status);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, err);
    // On a connection of its own when the server closed the first one.
    EXPECT_THAT(raw.Requests(),
                Contains(AllOf(StartsWith("DELETE /api/token/ "), HasSubstr("tok-123"))));
  }
  EXPECT_EQ(elsewhere.Connections(), 0u);
}

}  // namespace
}  // namespace korv::test
