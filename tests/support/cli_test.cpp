#include "tests/support/cli_test.h"

#include <unistd.h>

#include <sstream>

namespace korv::test {

namespace {

// The global options of a run against the server, then the subcommand's arguments.
std::vector<std::string> against(const std::string& baseUrl, std::vector<std::string> args) {
  std::vector<std::string> full = {"-p", baseUrl, "-u", "admin"};
  if (baseUrl.rfind("https", 0) == 0) {
    full.push_back("--insecure");
  }
  full.insert(full.end(), args.begin(), args.end());
  return full;
}

}  // namespace

std::string CliTest::Prepare(std::vector<std::string> args, ProcessOptions& options,
                             bool withPassword) const {
  options.args = std::move(args);
  options.environment = InheritedSanitizerEnvironment();
  options.environment.insert(options.environment.end(),
                             {"HOME=" + home.Path(), "PATH=/usr/bin:/bin"});
  // The test's own entries come first: where a name is given twice, the first one counts.
  options.environment.insert(options.environment.begin(), environment.begin(), environment.end());
  if (withPassword) {
    options.environment.push_back("KORV_API_PASSWORD=secret");
  }
  if (unprivileged && ::geteuid() == 0) {
    options.args.insert(options.args.begin(),
                        {"--reuid=65534", "--regid=65534", "--clear-groups", "--", program});
    return "/usr/bin/setpriv";
  }
  return program;
}

ProcessResult CliTest::Run(std::vector<std::string> args, ProcessOptions options) {
  const std::string runner = Prepare(std::move(args), options, false);
  return test::Run(runner, std::move(options));
}

ProcessResult CliTest::RunAgainst(const StubServer& server, std::vector<std::string> args,
                                  ProcessOptions options) {
  return RunAgainst(server.BaseUrl(), std::move(args), std::move(options));
}

ProcessResult CliTest::RunAgainst(const std::string& baseUrl, std::vector<std::string> args,
                                  ProcessOptions options) {
  const std::string runner = Prepare(against(baseUrl, std::move(args)), options, true);
  return test::Run(runner, std::move(options));
}

std::unique_ptr<Process> CliTest::StartAgainst(const std::string& baseUrl,
                                               std::vector<std::string> args) {
  ProcessOptions options;
  const std::string runner = Prepare(against(baseUrl, std::move(args)), options, true);
  return std::make_unique<Process>(runner, std::move(options));
}

std::string CliTest::Log() const {
  std::string text = ReadFile(LogPath());
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) {
    text.erase(0, 3);
  }
  return text;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

}  // namespace korv::test
