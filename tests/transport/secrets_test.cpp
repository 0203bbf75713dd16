// At the most verbose log level the password, from a password file or from the environment, stays
// out of the log, the outputs and the process's argument list; and every log file, rolled ones
// included, is for its owner alone whatever the umask.
#include <dirent.h>
#include <sys/stat.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "tests/support/cli_test.h"

namespace korv::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// Quotes and a backslash, so that the JSON login body writes it differently from how it reads; the
// tail alone is searched for, which finds it in any spelling.
constexpr char kPassword[] = "pa\"ss\\w0rd-Zq8";
constexpr char kTail[] = "w0rd-Zq8";

// The log files in a directory, rolled ones included.
std::vector<std::string> logFiles(const std::string& dir) {
  std::vector<std::string> paths;
  if (DIR* stream = ::opendir(dir.c_str())) {
    while (const dirent* entry = ::readdir(stream)) {
      const std::string name = entry->d_name;
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ".log") == 0) {
        paths.push_back(dir + "/" + name);
      }
    }
    ::closedir(stream);
  }
  return paths;
}

class Secrets : public CliTest {};

TEST_F(Secrets, PasswordNeverShowsAtTheMostVerboseLevelAndEveryLogFileIsOwnerOnly) {
  StubServer server;
  server.ServeSession();
  // A list large enough that logging it in full makes the log roll.
  std::string list = "[";
  for (int id = 0; id < 1200; ++id) {
    list += (id == 0 ? "" : ",") + std::string(R"({"enabled":true,"id":)") + std::to_string(id) +
            R"(,"interval":60,"level":"server","name":"probe","platform":"linux"})";
  }
  server.On("GET", "/api/v11/probe/", Reply(200, list + "]"));
  server.On("POST", "/api/v11/probe/custom/export/", Reply(400, R"({"errormsg":"No."})"));
  server.On("POST", "/api/v11/probe/custom/import/",
            Reply(200, R"({"result":[{"name":"cpu","status":"created"}]})"));
  Reply held(500, "<html>Internal error</html>");
  held.delay = std::chrono::seconds(1);  // while the argument list is read
  server.On("GET", "/api/v11/alert/template/", held);
  const std::string importFile = home / "import.json";
  WriteFile(importFile, R"({"probes":[{"name":"cpu"}],"version":"11.0"})");
  const std::string passwordFile = home / "password";
  WriteFile(passwordFile, std::string("\n") + kPassword + "\n");
  const std::string logs = home / "logs";
  ::mkdir(logs.c_str(), 0700);

  const std::vector<std::string> runs[] = {{"list-probes"},
                                           {"--log-file", logs + "/korv.log", "list-probes"},
                                           {"export-probes", "-i", "1"},
                                           {"import-probes", "-i", importFile},
                                           {"list-alert-templates"}};
  const mode_t umask = ::umask(0);
  for (const bool fromFile : {true, false}) {
    for (const auto& run : runs) {
      SCOPED_TRACE(run[0] + (fromFile ? " with a password file" : " with KORV_API_PASSWORD"));
      ProcessOptions options;
      options.args = {"-p", server.BaseUrl(), "-u", "admin", "-l", "VERBOSE"};
      if (fromFile) {
        options.args.insert(options.args.end(), {"-f", passwordFile});
      }
      options.args.insert(options.args.end(), run.begin(), run.end());
      options.environment = InheritedSanitizerEnvironment();
      options.environment.insert(options.environment.end(),
                                 {"HOME=" + home.Path(), "PATH=/usr/bin:/bin"});
      if (!fromFile) {
        options.environment.push_back(std::string("KORV_API_PASSWORD=") + kPassword);
      }
      const size_t before = server.Requests().size();
      Process process(program, options);
      std::string arguments;
      if (run[0] == "list-alert-templates") {
        // Mid-run: the server holds back its answer to the list request, which follows the login.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (server.Requests().size() < before + 2 &&
               std::chrono::steady_clock::now() < deadline) {
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        arguments = ReadFile("/proc/" + std::to_string(process.Pid()) + "/cmdline");
        EXPECT_THAT(arguments, HasSubstr("list-alert-templates"));
      }
      const ProcessResult result = process.Wait();
      EXPECT_THAT(result.out + result.err + arguments, Not(HasSubstr(kTail)));
    }
  }
  ::umask(umask);

  // Every run logged in with the password, so it passed every place that could show it.
  const auto logins = server.RequestsTo("POST", "/api/token/");
  EXPECT_EQ(logins.size(), 10u);
  for (const auto& login : logins) {
    EXPECT_EQ(login.body, R"({"password":"pa\"ss\\w0rd-Zq8","username":"admin"})");
  }

  EXPECT_THAT(Log(), HasSubstr(" DEBUG "));
  for (const std::string& dir : {home.Path(), logs}) {
    const auto files = logFiles(dir);
    EXPECT_GE(files.size(), 2u) << dir << ": the log rolled";
    for (const auto& file : files) {
      EXPECT_EQ(FileMode(file), 0600u) << file;
      EXPECT_THAT(ReadFile(file), Not(HasSubstr(kTail))) << file;
    }
  }
}

}  // namespace
}  // namespace korv::test
