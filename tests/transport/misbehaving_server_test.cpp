// Servers that break HTTP or send more than a client should take: connections dropped at every
// stage, bodies cut short or declared longer than sent, oversized and malformed header lines, a
// 204 with a body, an HTML error page, a redirect, a list nested without end and an answer over
// the size limit. Each ends in the documented error and status, and the token is still given back.
#include <netinet/in.h>
#include <sys/socket.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "tests/support/cli_test.h"
#include "web/web_connection.h"

namespace korv::test {
namespace {

using ::testing::HasSubstr;

constexpr char kParseFailure[] = "Failed to parse the response from the KORV Server.\n";

class MisbehavingServer : public ServerTest {};

TEST_F(MisbehavingServer, BreakingHttpEndsInTheDocumentedErrorAndTheTokenIsStillReleased) {
  struct Case {
    const char* what;
    Reply answer;  // to the list request
    std::string err = kParseFailure;
  };
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n";
  Reply page(500, "<html><body><h1>Internal Server Error</h1></body></html>");
  page.contentType = "text/html; charset=utf-8";
  const Case cases[] = {
      {"an empty reply", Raw("", true)},
      // Without a length the end of the connection ends the body: libcurl cannot tell.
      {"a truncated body",
       Raw(head + "Connection: close\r\n\r\n" + R"([{"id":1,"name":"cp)", true)},
      // The part that arrived is JSON, but the transfer failed.
      {"a body declared longer than sent", Raw(head + "Content-Length: 100\r\n\r\n[]", true)},
      {"a header line without a colon", Raw(head + "No colon here\r\nContent-Length: 2\r\n\r\n[]")},
      {"a 204 with a body", Raw("HTTP/1.1 204 No Content\r\nContent-Length: 2\r\n\r\n[]")},
      {"an HTML error page", page},
      {"a list nested 100000 deep",
       Reply(200, std::string(100000, '[') + std::string(100000, ']'))},
      {"a redirect",
       Reply(302, R"({"errormsg":"Moved."})", {{"Location", "http://127.0.0.1:0/api/v11/probe/"}}),
       "HTTP (Error: 302): Moved.\n"},
  };
  for (const auto& [what, answer, err] : cases) {
    SCOPED_TRACE(what);
    StubServer server;
    server.ServeSession();
    server.On("GET", "/api/v11/probe/", answer);
    EXPECT_EQ(Showing(RunAgainst(server.BaseUrl(), {"list-probes"})), (Shown{4, "", err}));
    // The token is given back, on a connection of its own where the server closed the first.
    EXPECT_EQ(server.RequestsTo("DELETE", "/api/token/").size(), 1u);
  }
}

TEST_F(MisbehavingServer, AnAnswerOverOneGibibyteEndsTheTransferAndItsConnection) {
  // A server of its own, which sends the answer slice by slice and so never holds it whole: it
  // logs in, announces one slice more than a gibibyte for the list, and releases. It notes the
  // method and the connection of each request.
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t size = sizeof address;
  auto* name = reinterpret_cast<sockaddr*>(&address);
  ASSERT_EQ(
      ::bind(listener, name, size) | ::listen(listener, 4) | ::getsockname(listener, name, &size),
      0);
  const std::string slice(1 << 20, ' ');
  std::vector<std::string> seen;
  std::thread serving([&] {
    for (int connection = 1, fd; (fd = ::accept(listener, nullptr, nullptr)) >= 0; ++connection) {
      char buffer[65536];
      for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
        // A read holds at most one request's head; the login's body may come apart from it.
        const std::string request(buffer, static_cast<size_t>(n));
        const auto has = [&](const char* method) { return request.find(method) != request.npos; };
        const std::string method = has("GET /") ? "GET" : has("DELETE /") ? "DELETE" : "POST";
        if (!has(" HTTP/1.1\r\n")) {
          continue;
        }
        seen.push_back(method + " " + std::to_string(connection));
        const std::string answer =
            method == "POST"
                ? "HTTP/1.1 201 Created\r\nX-Subject-Token: t\r\nContent-Length: 38\r\n\r\n"
                  R"({"supported_api_versions":["v11_api"]})"
            : method == "GET" ? "HTTP/1.1 200 OK\r\nContent-Length: 1074790400\r\n\r\n"
                              : "HTTP/1.1 204 No Content\r\n\r\n";
        ::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
        for (int i = 0; method == "GET" && i < 1025; ++i) {
          ::send(fd, slice.data(), slice.size(), MSG_NOSIGNAL);
        }
      }
      ::close(fd);
    }
  });
  EXPECT_EQ(Showing(RunAgainst("http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/",
                               {"list-probes"})),
            (Shown{4, "", kParseFailure}));
  ::shutdown(listener, SHUT_RDWR);
  serving.join();
  ::close(listener);
  EXPECT_THAT(Log(), HasSubstr("The answer is larger than 1073741824 bytes."));
  // The rest of the refused answer is never read as the answer to the release.
  EXPECT_EQ(seen, (std::vector<std::string>{"POST 1", "GET 1", "DELETE 2"}));
}

TEST(HeaderLine, OfMoreThan102400BytesIsRefused) {
  // libcurl's own limit stops such a line before it reaches the callback: this is the second guard.
  web::HeaderMap headers;
  std::string line = "X-Long: " + std::string(102391, 'x') + "\r\n";
  EXPECT_EQ(web::HeaderCallback(line.data(), 1, line.size() - 1, &headers), line.size() - 1);
  EXPECT_EQ(web::HeaderCallback(line.data(), 1, line.size(), &headers), 0u);
}

}  // namespace
}  // namespace korv::test
