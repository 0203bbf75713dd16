// The fixtures of end-to-end tests: they run a built program with its own temporary home
// directory, against a scripted server, and read back what it wrote.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/process.h"
#include "tests/support/stub_server.h"
#include "tests/support/temp_dir.h"

namespace korv::test {

class CliTest : public ::testing::Test {
 protected:
  TempDir home;
  // "NAME=value" entries added to the child's environment (HOME and PATH are always set).
  std::vector<std::string> environment;
  // Runs korv-cli with these arguments.
  ProcessResult Run(std::vector<std::string> args, ProcessOptions options = {});
  // Runs korv-cli against the server as user "admin", password "secret" (from the environment),
  // the global options first, with --insecure for https.
  ProcessResult RunAgainst(const std::string& baseUrl, std::vector<std::string> args,
                           ProcessOptions options = {});
  // Starts a run as Run does, without waiting for it.
  std::unique_ptr<Process> Start(std::vector<std::string> args);
  // Starts a run as RunAgainst does, without waiting for it.
  std::unique_ptr<Process> StartAgainst(const std::string& baseUrl, std::vector<std::string> args);

  std::string LogPath() const { return home / ".korv-cli.log"; }
  // The default log file without its byte-order mark; "" when there is none.
  std::string Log() const;

 private:
  // Fills in the arguments and the environment of a run.
  void Prepare(std::vector<std::string> args, ProcessOptions& options, bool withPassword) const;
};

// A CliTest with a scripted server that serves the login and the token release.
class ServerTest : public CliTest {
 protected:
  ServerTest() { server.ServeSession(); }
  ProcessResult RunAgainst(std::vector<std::string> args, ProcessOptions options = {}) {
    return CliTest::RunAgainst(server.BaseUrl(), std::move(args), std::move(options));
  }
  using CliTest::RunAgainst;
  // How many token releases the server received.
  size_t Releases() const { return server.RequestsTo("DELETE", "/api/token/").size(); }

  StubServer server;
};

// What a run shows, to compare in one expectation: its status, standard output and error.
struct Shown {
  int status;
  std::string out;
  std::string err;
  bool operator==(const Shown& other) const {
    return status == other.status && out == other.out && err == other.err;
  }
};
Shown Showing(const ProcessResult& result);
void PrintTo(const Shown& shown, std::ostream* out);

// Certificates made by openssl once per test program, in one directory: two CAs (ca.pem and
// other.pem, with their .key files); ca.pem signed server.pem and client.pem, each for 127.0.0.1
// with its .key file.
const TempDir& Pki();

// The lines of a text, without their line feeds.
std::vector<std::string> Lines(const std::string& text);

}  // namespace korv::test
