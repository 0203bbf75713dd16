// The fixture of end-to-end tests: runs a built program with its own temporary home directory
// and reads back what it wrote.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/process.h"
#include "tests/support/stub_server.h"
#include "tests/support/temp_dir.h"

namespace korv::test {

class CliTest : public ::testing::Test {
 protected:
  // The program under test; korv-cli unless a test says otherwise.
  std::string program = KORV_CLI_PATH;
  TempDir home;
  // "NAME=value" entries added to the child's environment (HOME and PATH are always set).
  std::vector<std::string> environment;
  // Runs the program as an unprivileged user, so that file permissions hold (for root they
  // do not). Paths it must reach need search permission for others.
  bool unprivileged = false;

  ProcessResult Run(std::vector<std::string> args, ProcessOptions options = {});
  // Runs a subcommand against the server as user "admin", password "secret" (from the
  // environment), the global options first, with --insecure for https.
  ProcessResult RunAgainst(const StubServer& server, std::vector<std::string> args,
                           ProcessOptions options = {});
  ProcessResult RunAgainst(const std::string& baseUrl, std::vector<std::string> args,
                           ProcessOptions options = {});
  // Starts a run as RunAgainst does, without waiting for it.
  std::unique_ptr<Process> StartAgainst(const std::string& baseUrl, std::vector<std::string> args);

  std::string LogPath() const { return home / ".korv-cli.log"; }
  // The default log file without its byte-order mark; "" when there is none.
  std::string Log() const;

 private:
  // Fills in the options of a run and gives the program to start.
  std::string Prepare(std::vector<std::string> args, ProcessOptions& options,
                      bool withPassword) const;
};

// The lines of a text, without their line feeds.
std::vector<std::string> Lines(const std::string& text);

}  // namespace korv::test
