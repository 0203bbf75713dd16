// Ctrl-C, SIGTERM, a hang-up and SIGQUIT in the middle of a run: the transfer stops promptly, the
// token is still given back, no partial export file stays, and the status tells which signal it
// was.
#include <signal.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/support/cli_test.h"

namespace korv::test {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;

class Interrupt : public CliTest {
 protected:
  void SetUp() override { server.ServeSession(); }

  // Waits until the server has received the request (more than `earlier` of them).
  void AwaitRequest(const std::string& method, const std::string& path, size_t earlier = 0) {
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (server.RequestsTo(method, path).size() <= earlier &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(5ms);
    }
    ASSERT_GT(server.RequestsTo(method, path).size(), earlier) << "the request never arrived";
  }

  // Starts the run, waits until the server holds the request, then sends the signal.
  ProcessResult InterruptDuring(const std::string& method, const std::string& path,
                                std::vector<std::string> args, int signal) {
    const size_t earlier = server.RequestsTo(method, path).size();
    const auto process = StartAgainst(server.BaseUrl(), std::move(args));
    AwaitRequest(method, path, earlier);
    const auto sent = std::chrono::steady_clock::now();
    process->Signal(signal);
    ProcessResult result = process->Wait(30s);
    took = std::chrono::steady_clock::now() - sent;
    return result;
  }

  static Reply Slow(Reply reply) {
    reply.delay = 20s;
    return reply;
  }

  StubServer server;
  std::chrono::steady_clock::duration took{};
};

TEST_F(Interrupt, CtrlCDuringTheRequestStopsPromptlyAndReleasesTheToken) {
  server.On("GET", "/api/v11/probe/", Slow(Reply(200, "[]")));
  const ProcessResult result = InterruptDuring("GET", "/api/v11/probe/", {"list-probes"}, SIGINT);
  EXPECT_EQ(result.status, 130);
  EXPECT_FALSE(result.signaled);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "Interrupted by SIGINT.\n");
  EXPECT_LT(took, 5s);
  EXPECT_EQ(server.RequestsTo("DELETE", "/api/token/").size(), 1u);
  EXPECT_THAT(Log(), HasSubstr("Interrupted by SIGINT."));
  EXPECT_THAT(Log(), HasSubstr("Token released.."));
}

TEST_F(Interrupt, SigtermHangUpOrQuitDuringAnExportLeavesTheTargetAsItWas) {
  server.On("POST", "/api/v11/probe/custom/export/",
            Slow(Reply(200, R"({"probes":[],"version":"11.0"})")));
  const std::string file = home / "probes.json";
  WriteFile(file, "earlier");
  size_t runs = 0;
  for (const auto& [signal, name] : {std::pair{SIGTERM, "SIGTERM"}, std::pair{SIGHUP, "SIGHUP"},
                                     std::pair{SIGQUIT, "SIGQUIT"}}) {
    SCOPED_TRACE(name);
    const ProcessResult result = InterruptDuring("POST", "/api/v11/probe/custom/export/",
                                                 {"export-probes", "-w", "-o", file}, signal);
    EXPECT_EQ(result.status, 128 + signal);
    EXPECT_EQ(result.err, "Interrupted by " + std::string(name) + ".\n");
    EXPECT_EQ(ReadFile(file), "earlier");
    EXPECT_EQ(server.RequestsTo("DELETE", "/api/token/").size(), ++runs);
    // No temporary file stays beside it.
    EXPECT_EQ(Entries(home.Path()), (std::vector<std::string>{".korv-cli.log", "probes.json"}));
  }
}

TEST_F(Interrupt, CtrlCDuringTheLoginHasNoTokenToRelease) {
  server.On("POST", "/api/token/",
            Slow(Reply(201, R"({"supported_api_versions":["v11_api"]})",
                       {{"X-Subject-Token", "tok-123"}})));
  const ProcessResult result = InterruptDuring("POST", "/api/token/", {"list-probes"}, SIGINT);
  EXPECT_EQ(result.status, 130);
  EXPECT_EQ(result.err, "Interrupted by SIGINT.\n");
  EXPECT_LT(took, 5s);
  EXPECT_TRUE(server.RequestsTo("DELETE", "/api/token/").empty());
}

TEST_F(Interrupt, ASecondCtrlCStopsATokenReleaseThatHangs) {
  server.On("GET", "/api/v11/probe/", Slow(Reply(200, "[]")));
  server.On("DELETE", "/api/token/", Slow(Reply(204, "")));
  const auto process = StartAgainst(server.BaseUrl(), {"list-probes"});
  AwaitRequest("GET", "/api/v11/probe/");
  process->Signal(SIGINT);
  AwaitRequest("DELETE", "/api/token/");
  const auto sent = std::chrono::steady_clock::now();
  process->Signal(SIGINT);
  const ProcessResult result = process->Wait(30s);
  EXPECT_LT(std::chrono::steady_clock::now() - sent, 5s);
  EXPECT_EQ(result.status, 130);
  EXPECT_EQ(result.err, "Interrupted by SIGINT.\n");
  EXPECT_THAT(Log(), HasSubstr("Couldn't release the token..."));
}

}  // namespace
}  // namespace korv::test
