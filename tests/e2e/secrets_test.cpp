// The password, whether from a password file or from the environment, stays out of the log (at
// the most verbose level), out of standard output and standard error, and out of the process's
// argument list; and every log file, rolled ones included, is for its owner alone.
#include <dirent.h>
#include <sys/stat.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "tests/support/cli_test.h"
#include "tests/support/raw_server.h"

namespace korv::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// Quotes and a backslash, so that the JSON login body writes it differently from how it reads; the
// tail alone is searched for, which finds it in any spelling.
constexpr char kPassword[] = "pa\"ss\\w0rd-Zq8";
constexpr char kTail[] = "w0rd-Zq8";

// The log files in a directory: its name, and the rolled ones beside it.
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
  std::sort(paths.begin(), paths.end());
  return paths;
}

// A list answer large enough that logging it in full makes the log roll.
std::string largeList() {
  std::string list;
  for (int id = 0; id < 600; ++id) {
    list += (id == 0 ? "[" : ",") +
            std::string(R"({"discard_history":false,"enabled":true,"id":)") + std::to_string(id) +
            R"(,"internal_name":"probe_int","interval":60,)" +
            R"("is_system_probe":false,"level":"server","lifetime":30,"name":"probe",)" +
            R"("platform":"linux"})";
  }
  return list + "]";
}

class Secrets : public CliTest {
 protected:
  void SetUp() override { server.ServeSession(); }

  // The global options, at the most verbose log level, with the password from the given source.
  std::vector<std::string> Options(const std::string& url, bool fromFile) {
    environment.clear();
    if (!fromFile) {
      environment.push_back(std::string("KORV_API_PASSWORD=") + kPassword);
      return {"-p", url, "-u", "admin", "-l", "VERBOSE"};
    }
    const std::string file = home / "password";
    WriteFile(file, std::string("\n") + kPassword + "\n", 0600);
    return {"-p", url, "-u", "admin", "-l", "VERBOSE", "-f", file};
  }

  StubServer server;
};

TEST_F(Secrets, PasswordStaysOutOfTheLogAndTheOutputsAtTheMostVerboseLevel) {
  const std::string importFile = home / "import.json";
  WriteFile(importFile, R"({"probes":[{"name":"cpu"}],"version":"11.0"})", 0600);
  server.On("POST", "/api/v11/probe/custom/import/",
            Reply(200, R"({"result":[{"name":"cpu","status":"created"}]})"));
  server.On("POST", "/api/v11/probe/custom/export/", Reply(400, R"({"errormsg":"No."})"));
  server.On("GET", "/api/v11/alert/template/", Reply(500, "<html>Internal error</html>"));
  server.On("GET", "/api/v11/probe/", Reply(200, largeList()));

  const std::vector<std::string> runs[] = {{"list-probes"},
                                           {"list-alert-templates"},
                                           {"export-probes", "-i", "1"},
                                           {"import-probes", "-i", importFile}};
  for (const bool fromFile : {true, false}) {
    for (const auto& run : runs) {
      SCOPED_TRACE(run[0] + (fromFile ? " with a password file" : " with KORV_API_PASSWORD"));
      std::vector<std::string> args = Options(server.BaseUrl(), fromFile);
      args.insert(args.end(), run.begin(), run.end());
      const ProcessResult result = Run(args);
      EXPECT_THAT(result.out, Not(HasSubstr(kTail)));
      EXPECT_THAT(result.err, Not(HasSubstr(kTail)));
    }
  }
  // Every run logged in with the password, so it passed every place that could have shown it; and
  // it went to the server only in the login body.
  const auto logins = server.RequestsTo("POST", "/api/token/");
  ASSERT_EQ(logins.size(), 8u);
  for (const auto& login : logins) {
    EXPECT_EQ(login.body, R"({"password":"pa\"ss\\w0rd-Zq8","username":"admin"})");
  }
  for (const auto& request : server.Requests()) {
    if (request.path != "/api/token/" || request.method != "POST") {
      EXPECT_THAT(request.body, Not(HasSubstr(kTail))) << request.path;
    }
  }

  const auto logs = logFiles(home.Path());
  EXPECT_GE(logs.size(), 2u) << "the log rolled";
  for (const auto& log : logs) {
    EXPECT_THAT(ReadFile(log), Not(HasSubstr(kTail))) << log;
  }
  EXPECT_THAT(Log(), HasSubstr(" DEBUG "));
}

TEST_F(Secrets, PasswordIsNotInTheArgumentListWhileTheRunWaits) {
  RawServer raw;
  raw.ServeSession();
  raw.On("GET", "/api/v11/probe/", {HttpResponse(200, "[]"), false, std::chrono::seconds(1)});
  for (const bool fromFile : {true, false}) {
    SCOPED_TRACE(fromFile ? "with a password file" : "with KORV_API_PASSWORD");
    ProcessOptions options;
    options.args = Options(raw.BaseUrl(), fromFile);
    options.args.push_back("list-probes");
    options.environment = {"HOME=" + home.Path(), "PATH=/usr/bin:/bin"};
    options.environment.insert(options.environment.end(), environment.begin(), environment.end());
    for (const auto& entry : InheritedSanitizerEnvironment()) {
      options.environment.push_back(entry);
    }
    const size_t before = raw.Requests().size();
    Process process(program, options);

    // Wait for the list request, which the server holds back; the process is then mid-run.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    const auto waiting = [&] {
      const auto requests = raw.Requests();
      return requests.size() == before || requests.back().rfind("GET ", 0) != 0;
    };
    while (waiting() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const std::string arguments = ReadFile("/proc/" + std::to_string(process.Pid()) + "/cmdline");
    const ProcessResult result = process.Wait();
    EXPECT_THAT(arguments, HasSubstr("list-probes"));
    EXPECT_THAT(arguments, Not(HasSubstr(kTail)));
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "[]\n");
  }
}

TEST_F(Secrets, EveryLogFileIsOwnerOnlyWhateverTheUmask) {
  server.On("GET", "/api/v11/probe/", Reply(200, largeList()));
  const std::string elsewhere = home / "logs";
  ::mkdir(elsewhere.c_str(), 0700);

  std::vector<std::string> args = Options(server.BaseUrl(), false);
  args.push_back("list-probes");
  const mode_t umask = ::umask(0);
  const int toHome = Run(args).status;
  args.insert(args.begin(), {"--log-file", elsewhere + "/korv.log"});
  const int toElsewhere = Run(args).status;
  ::umask(umask);
  ASSERT_EQ(toHome, 0);
  ASSERT_EQ(toElsewhere, 0);

  for (const std::string& dir : {home.Path(), elsewhere}) {
    const auto logs = logFiles(dir);
    EXPECT_GE(logs.size(), 2u) << dir << ": the log rolled";
    for (const auto& log : logs) {
      EXPECT_EQ(FileMode(log), 0600u) << log;
    }
  }
}

}  // namespace
}  // namespace korv::test
