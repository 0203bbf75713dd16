// korv-cli against korv-standin behind a real HTTP/2 TLS front. libcurl asks for HTTP/2 over TLS,
// and an HTTP/2 server sends every header name in lower case, the token's among them.
#include <unistd.h>

#include <csignal>

#include <gtest/gtest.h>

#include <memory>

#include "tests/support/cli_test.h"

namespace korv::test {
namespace {

constexpr char kFront[] = "/usr/sbin/nghttpx";  // Debian's nghttp2-proxy

class Http2 : public CliTest {};

TEST_F(Http2, ARunThroughAnHttp2FrontLogsInListsAndReleasesItsToken) {
  if (::access(kFront, X_OK) != 0) {
    GTEST_SKIP() << kFront << " is missing; scripts/deps installs it";
  }
  Standin standin({"--data", home / "data.json", "--user", "admin:secret"});
  const std::string backend = "-b127.0.0.1," + std::to_string(std::stoi(standin.Url().substr(17)));

  // The front's port was free a moment ago, and another program may take it first: the front
  // then ends at once, and the next try takes another port. Its error log, on standard output
  // with the access log, says when it listens.
  std::unique_ptr<Process> front;
  std::string port, line;
  for (int attempt = 0; attempt < 5 && !front; ++attempt) {
    port = std::to_string(StubServer().Port());
    ProcessOptions options;
    options.args = {backend, "-f127.0.0.1," + port, Pki() / "server.key", Pki() / "server.pem"};
    // The package's own configuration would send the error log to syslog.
    options.args.insert(options.args.begin(),
                        {"--single-process", "--conf=/dev/null", "--no-ocsp",
                         "--errorlog-file=/dev/stdout", "--accesslog-file=/dev/stdout"});
    front = std::make_unique<Process>(kFront, options);
    while (front->ReadLine(line) && line.find("Listening on") == std::string::npos) {
    }
    if (line.find("Listening on") == std::string::npos) {
      front.reset();
    }
  }
  ASSERT_TRUE(front) << "nghttpx did not start: " << line;

  const ProcessResult result = RunAgainst("https://127.0.0.1:" + port + "/", {"list-probes"});
  EXPECT_EQ(result.status, 0) << result.err;
  front->Signal(SIGTERM);
  // The access log names the protocol of every request.
  const std::string access = front->Wait().out;
  for (const std::string request :
       {"POST /api/token/", "GET /api/v11/probe/", "DELETE /api/token/"}) {
    EXPECT_NE(access.find(request + " HTTP/2\""), std::string::npos) << access;
  }
}

}  // namespace
}  // namespace korv::test
