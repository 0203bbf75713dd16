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

class Interrupt : public ServerTest {
 protected:
  // Answers the request only after a long time.
  void Hold(const std::string& method, const std::string& path, Reply reply) {
    reply.delay = 20s;
    server.On(method, path, reply);
  }
  // Waits until the server has received the request (more than `earlier` of them), then sends
  // the signal.
  void SignalDuring(Process& process, const std::string& method, const std::string& path,
                    int signal, size_t earlier = 0) {
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (server.RequestsTo(method, path).size() <= earlier &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(5ms);
    }
    ASSERT_GT(server.RequestsTo(method, path).size(), earlier) << "the request never arrived";
    process.Signal(signal);
    sent = std::chrono::steady_clock::now();
  }
  // Waits for the end of the run, which must come promptly after the last signal.
  ProcessResult Ended(Process& process) {
    ProcessResult result = process.Wait();
    EXPECT_LT(std::chrono::steady_clock::now() - sent, 5s);
    return result;
  }

  std::chrono::steady_clock::time_point sent;
};

TEST_F(Interrupt, DuringTheRequestStopsPromptlyReleasesTheTokenAndLeavesTheExportFile) {
  const std::string path = "/api/v11/probe/custom/export/", file = home / "probes.json";
  Hold("POST", path, Reply(200, R"({"probes":[],"version":"11.0"})"));
  WriteFile(file, "earlier");
  const std::pair<int, std::string> signals[] = {
      {SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"}, {SIGQUIT, "SIGQUIT"}};
  for (const auto& [signal, name] : signals) {
    const size_t earlier = server.RequestsTo("POST", path).size();
    const auto process = StartAgainst(server.BaseUrl(), {"export-probes", "-w", "-o", file});
    SignalDuring(*process, "POST", path, signal, earlier);
    EXPECT_EQ(Showing(Ended(*process)),
              (Shown{128 + signal, "", "Interrupted by " + name + ".\n"}));
  }
  EXPECT_EQ(Releases(), 4u);
  EXPECT_EQ(ReadFile(file), "earlier");
  // No temporary file stays beside it.
  EXPECT_EQ(Entries(home.Path()), (std::vector<std::string>{".korv-cli.log", "probes.json"}));
  EXPECT_THAT(Log(), HasSubstr("Interrupted by SIGINT."));
}

TEST_F(Interrupt, DuringTheLoginHasNoTokenToRelease) {
  Hold("POST", "/api/token/",
       Reply(201, R"({"supported_api_versions":["v11_api"]})", {{"X-Subject-Token", "tok-123"}}));
  const auto process = StartAgainst(server.BaseUrl(), {"list-probes"});
  SignalDuring(*process, "POST", "/api/token/", SIGINT);
  EXPECT_EQ(Showing(Ended(*process)), (Shown{130, "", "Interrupted by SIGINT.\n"}));
  EXPECT_EQ(Releases(), 0u);
}

TEST_F(Interrupt, ASecondCtrlCStopsATokenReleaseThatHangs) {
  Hold("GET", "/api/v11/probe/", Reply(200, "[]"));
  Hold("DELETE", "/api/token/", Reply(204, ""));
  const auto process = StartAgainst(server.BaseUrl(), {"list-probes"});
  SignalDuring(*process, "GET", "/api/v11/probe/", SIGINT);
  SignalDuring(*process, "DELETE", "/api/token/", SIGINT);
  EXPECT_EQ(Showing(Ended(*process)), (Shown{130, "", "Interrupted by SIGINT.\n"}));
  EXPECT_THAT(Log(), HasSubstr("Couldn't release the token..."));
}

}  // namespace
}  // namespace korv::test
