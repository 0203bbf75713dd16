// The korv-standin program itself: its URL line, serving, stopping on a signal, refusing bad
// data files and command lines.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <csignal>
#include <regex>
#include <string>

#include "standin_test_support.h"

namespace korv::standin::test {
namespace {

const std::string kProgram = KORV_STANDIN_PATH;

TEST(StandinProgram, PrintsItsUrlServesAndExitsWithZeroOnSigterm) {
  TemporaryDirectory directory;
  ChildProcess child({kProgram, "--port", "0", "--data", directory.file("data.json"), "--user",
                      "admin:se:cret", "--fixed-token", "known", "--with-custom-samples"},
                     directory.file("stderr.log"));
  std::string url;
  ASSERT_TRUE(child.readLine(url)) << readFile(directory.file("stderr.log"));
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

  child.signal(SIGTERM);
  const int status = child.wait();
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
  // Nothing but the URL went to standard output.
  std::string more;
  EXPECT_FALSE(child.readLine(more)) << more;
  // The data file was created with the samples.
  const auto data = nlohmann::json::parse(readFile(directory.file("data.json")));
  EXPECT_NE(named(data.at("probes"), "Orders Queue Depth"), nullptr);
}

TEST(StandinProgram, RefusesAFileThatIsNotADataFileWithOneLineAndAFailureStatus) {
  TemporaryDirectory directory;
  writeFile(directory.file("data.json"), "{\"probes\": 3}");
  const int status = run(
      {kProgram, "--port", "0", "--data", directory.file("data.json"), "--user", "admin:secret"},
      directory.file("stderr.log"));
  EXPECT_NE(status, 0);
  const std::string errors = readFile(directory.file("stderr.log"));
  EXPECT_NE(errors.find("'probes' must be an array"), std::string::npos) << errors;
  EXPECT_EQ(errors.find('\n'), errors.size() - 1) << errors;
}

TEST(StandinProgram, RefusesIncompleteCommandLines) {
  TemporaryDirectory directory;
  const std::string data = directory.file("data.json");
  const std::string log = directory.file("stderr.log");
  EXPECT_NE(run({kProgram, "--port", "0", "--data", data}, log), 0);
  EXPECT_NE(run({kProgram, "--port", "0", "--data", data, "--user", "nopassword"}, log), 0);
  EXPECT_NE(
      run({kProgram, "--port", "0", "--data", data, "--user", "a:b", "--tls-cert", data}, log), 0);
  EXPECT_NE(run({kProgram, "--port", "70000", "--data", data, "--user", "a:b"}, log), 0);
}

}  // namespace
}  // namespace korv::standin::test
