// The korv-standin program itself: its URL line, serving, stopping on a signal, refusing bad
// data files and command lines.
#include <gtest/gtest.h>

#include <csignal>
#include <regex>
#include <string>

#include "standin_test_support.h"
#include "tests/support/process.h"

namespace korv::standin::test {
namespace {

using ::korv::test::Process;
using ::korv::test::ProcessOptions;
using ::korv::test::ProcessResult;

const std::string kProgram = KORV_STANDIN_PATH;

ProcessOptions options(std::vector<std::string> args) {
  ProcessOptions options;
  options.args = std::move(args);
  options.environment = ::korv::test::InheritedSanitizerEnvironment();
  options.environment.push_back("PATH=/usr/bin:/bin");
  return options;
}

TEST(StandinProgram, PrintsItsUrlServesAndExitsWithZeroOnSigterm) {
  TempDir directory;
  Process child(kProgram,
                options({"--port", "0", "--data", directory / "data.json", "--user",
                         "admin:se:cret", "--fixed-token", "known", "--with-custom-samples"}));
  std::string url;
  ASSERT_TRUE(child.ReadLine(url)) << child.Wait().err;
  std::smatch port;
  ASSERT_TRUE(std::regex_match(url, port, std::regex(R"(http://127\.0\.0\.1:(\d+)/)"))) << url;

  httplib::Client client("127.0.0.1", std::stoi(port[1]));
  const auto probes = client.Get("/api/v11/probe/", {{"X-Auth-Token", "known"}});
  ASSERT_TRUE(probes);
  EXPECT_EQ(probes->status, 200);
  const nlohmann::json login{{"username", "admin"}, {"password", "se:cret"}};
  const auto loggedIn = client.Post("/api/token/", login.dump(), "application/json");
  ASSERT_TRUE(loggedIn);
  EXPECT_EQ(loggedIn->status, 201);

  child.Signal(SIGTERM);
  const ProcessResult result = child.Wait();
  EXPECT_FALSE(result.signaled);
  EXPECT_EQ(result.status, 0);
  // Nothing but the URL went to standard output.
  EXPECT_EQ(result.out, "");
  // The data file was created with the samples.
  const auto data = nlohmann::json::parse(ReadFile(directory / "data.json"));
  EXPECT_NE(named(data.at("probes"), "Orders Queue Depth"), nullptr);
}

TEST(StandinProgram, RefusesAFileThatIsNotADataFileWithOneLineAndAFailureStatus) {
  TempDir directory;
  WriteFile(directory / "data.json", "{\"probes\": 3}");
  const ProcessResult result = ::korv::test::Run(
      kProgram,
      options({"--port", "0", "--data", directory / "data.json", "--user", "admin:secret"}));
  EXPECT_NE(result.status, 0);
  EXPECT_NE(result.err.find("'probes' must be an array"), std::string::npos) << result.err;
  EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << result.err;
}

TEST(StandinProgram, RefusesIncompleteCommandLines) {
  TempDir directory;
  const std::string data = directory / "data.json";
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--port", "0", "--data", data},
           {"--port", "0", "--data", data, "--user", "nopassword"},
           {"--port", "0", "--data", data, "--user", "a:b", "--tls-cert", data},
           {"--port", "70000", "--data", data, "--user", "a:b"}}) {
    const ProcessResult result = ::korv::test::Run(kProgram, options(args));
    EXPECT_NE(result.status, 0) << args.back();
    EXPECT_FALSE(result.signaled);
  }
}

}  // namespace
}  // namespace korv::standin::test
