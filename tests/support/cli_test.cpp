#include "tests/support/cli_test.h"

#include <unistd.h>

#include <sstream>

namespace korv::test {

ProcessResult CliTest::Run(std::vector<std::string> args, ProcessOptions options) {
  options.args = std::move(args);
  options.environment = {"HOME=" + home.Path(), "PATH=/usr/bin:/bin"};
  for (const auto& entry : InheritedSanitizerEnvironment()) {
    options.environment.push_back(entry);
  }
  for (const auto& entry : environment) {
    options.environment.push_back(entry);
  }
  if (unprivileged && ::geteuid() == 0) {
    options.args.insert(options.args.begin(),
                        {"--reuid=65534", "--regid=65534", "--clear-groups", "--", program});
    return test::Run("/usr/bin/setpriv", std::move(options));
  }
  return test::Run(program, std::move(options));
}

ProcessResult CliTest::RunAgainst(const StubServer& server, std::vector<std::string> args,
                                  ProcessOptions options) {
  return RunAgainst(server.BaseUrl(), std::move(args), std::move(options));
}

ProcessResult CliTest::RunAgainst(const std::string& baseUrl, std::vector<std::string> args,
                                  ProcessOptions options) {
  std::vector<std::string> full = {"-p", baseUrl, "-u", "admin"};
  if (baseUrl.rfind("https", 0) == 0) {
    full.push_back("--insecure");
  }
  full.insert(full.end(), args.begin(), args.end());
  environment.push_back("KORV_API_PASSWORD=secret");
  ProcessResult result = Run(std::move(full), std::move(options));
  environment.pop_back();
  return result;
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
