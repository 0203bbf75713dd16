#include "tests/support/cli_test.h"

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

void CliTest::Prepare(std::vector<std::string> args, ProcessOptions& options,
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
}

ProcessResult CliTest::Run(std::vector<std::string> args, ProcessOptions options) {
  Prepare(std::move(args), options, false);
  return test::Run(KORV_CLI_PATH, std::move(options));
}

ProcessResult CliTest::RunAgainst(const std::string& baseUrl, std::vector<std::string> args,
                                  ProcessOptions options) {
  Prepare(against(baseUrl, std::move(args)), options, true);
  return test::Run(KORV_CLI_PATH, std::move(options));
}

std::unique_ptr<Process> CliTest::Start(std::vector<std::string> args) {
  ProcessOptions options;
  Prepare(std::move(args), options, false);
  return std::make_unique<Process>(KORV_CLI_PATH, std::move(options));
}

std::unique_ptr<Process> CliTest::StartAgainst(const std::string& baseUrl,
                                               std::vector<std::string> args) {
  ProcessOptions options;
  Prepare(against(baseUrl, std::move(args)), options, true);
  return std::make_unique<Process>(KORV_CLI_PATH, std::move(options));
}

std::string CliTest::Log() const {
  std::string text = ReadFile(LogPath());
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) {
    text.erase(0, 3);
  }
  return text;
}

Shown Showing(const ProcessResult& result) {
  return {result.status, result.out, result.err};
}

void PrintTo(const Shown& shown, std::ostream* out) {
  *out << "status " << shown.status << ", printed \"" << shown.out << "\", said \"" << shown.err
       << "\"";
}

const TempDir& Pki() {
  static const char make[] = R"(cd "$0"; for ca in ca other; do
  openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=$ca -keyout $ca.key -out $ca.pem; done
for leaf in server client; do openssl req -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 -CA ca.pem \
  -CAkey ca.key -addext subjectAltName=IP:127.0.0.1 -addext basicConstraints=CA:FALSE \
  -keyout $leaf.key -out $leaf.pem; done)";
  static const TempDir dir;
  ProcessOptions options;
  options.args = {"-ec", make, dir.Path()};
  options.environment = {"PATH=/usr/bin:/bin"};
  static const ProcessResult made = Run("/bin/sh", options);
  EXPECT_EQ(made.status, 0) << made.err;
  return dir;
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
