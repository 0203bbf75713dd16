// A run's login, request and token release travel over one kept-alive connection.
#include <gtest/gtest.h>

#include "tests/support/cli_test.h"

namespace korv::test {
namespace {

class Connections : public CliTest {};

TEST_F(Connections, ARunUsesOneConnectionOverHttpAndOverTls) {
  for (auto scheme : {StubServer::Scheme::Http, StubServer::Scheme::Https}) {
    StubServer server(scheme);
    server.ServeSession();
    server.On("GET", "/api/v11/probe/", Reply(200, "[]"));
    const ProcessResult result = RunAgainst(server, {"list-probes"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(server.Requests().size(), 3u);
    EXPECT_EQ(server.ConnectionCount(), 1u) << server.BaseUrl();
  }
}

TEST_F(Connections, AServerThatClosesEachConnectionIsStillServed) {
  for (auto scheme : {StubServer::Scheme::Http, StubServer::Scheme::Https}) {
    StubServer server(scheme);
    server.CloseConnectionsAfterEachAnswer();
    server.ServeSession();
    server.On("GET", "/api/v11/probe/", Reply(200, "[]"));
    const ProcessResult result = RunAgainst(server, {"list-probes"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "[]\n");
    EXPECT_EQ(server.RequestsTo("DELETE", "/api/token/").size(), 1u);
    EXPECT_EQ(server.ConnectionCount(), 3u) << server.BaseUrl();
  }
}

}  // namespace
}  // namespace korv::test
