// A server that never stops answering, and a password written into the server's URL: the
// transfer stops at the answer limit as a transport failure, the token goes back on a clean
// connection rather than the half-read one, and the password never shows.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/cli_test.h"
#include "tests/support/raw_server.h"

namespace korv::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class Limits : public CliTest {};

TEST_F(Limits, AnEndlessAnswerStopsAtOneGibibyteAndTheTokenIsStillReleased) {
  RawServer raw;
  raw.ServeSession();
  RawAnswer endless{"HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n\r\n["};
  endless.endless = true;
  raw.On("GET", "/api/v11/probe/", endless);
  const ProcessResult result = RunAgainst(raw.BaseUrl(), {"list-probes"});
  EXPECT_EQ(result.status, 4);
  EXPECT_EQ(result.err, "Failed to parse the response from the KORV Server.\n");
  EXPECT_THAT(Log(), HasSubstr("The answer is larger than 1073741824 bytes."));
  EXPECT_THAT(Log(), HasSubstr("Token released.."));
}

TEST_F(Limits, APasswordInTheServerUrlIsShownAsStarsInTheLogAndInMessages) {
  StubServer server;
  server.ServeSession();
  server.On("GET", "/api/v11/probe/", Reply(200, "[]"));
  const std::string hostAndPort = server.BaseUrl().substr(std::string("http://").size());
  EXPECT_EQ(
      RunAgainst("http://admin:s3cret-Zq8@" + hostAndPort, {"-l", "DEBUG", "list-probes"}).status,
      0);
  EXPECT_THAT(Log(), HasSubstr("Calling with URL='http://***@" + hostAndPort + "api/token/'"));
  const ProcessResult refused =
      RunAgainst("https://admin:s3c/r#et-Zq8@korv.invalid/", {"list-probes"});
  EXPECT_EQ(refused.err, "Marlformed url: 'https://***@korv.invalid/'\n");
  EXPECT_THAT(Log(), Not(HasSubstr("Zq8")));
}

}  // namespace
}  // namespace korv::test
