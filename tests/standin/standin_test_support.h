// Shared pieces of the stand-in's tests: temporary directories, a stand-in running in-process on
// a free loopback port, and small request helpers.
#pragma once

#include <httplib.h>

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "server.h"
#include "store.h"

namespace korv::standin::test {

// A fresh directory, removed with its content when the test ends.
class TemporaryDirectory {
 public:
  TemporaryDirectory();
  ~TemporaryDirectory();
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

  const std::string& path() const { return directory; }
  std::string file(const std::string& name) const { return directory + "/" + name; }

 private:
  std::string directory;
};

void writeFile(const std::string& path, const std::string& text);
std::string readFile(const std::string& path);

struct Reply {
  int status = 0;  // 0 when the request failed
  std::string text;
  nlohmann::json body;  // discarded when the text is not JSON
  httplib::Headers headers;

  std::string errormsg() const { return body.value("errormsg", std::string("(none)")); }
};

// The options of test servers: the user "admin" with the password "secret", both API versions,
// no request log.
ServerOptions testOptions();

// A stand-in on a free port of 127.0.0.1, serving the data file, stopped at the end of the test.
class TestServer {
 public:
  explicit TestServer(const std::string& dataFile, bool withCustomSamples = false,
                      ServerOptions options = testOptions());

  Reply logIn(const std::string& user = "admin", const std::string& password = "secret");
  // Logs in as admin and gives the token.
  std::string token();

  Reply get(const std::string& path, const std::string& token);
  Reply post(const std::string& path, const std::string& token, const std::string& body);
  Reply post(const std::string& path, const std::string& token, const nlohmann::json& body) {
    return post(path, token, body.dump());
  }
  Reply logOut(const std::string& token);
  Reply put(const std::string& path, const std::string& token);

  // Shorthands for the versioned exchanges, version v11.
  nlohmann::json probes(const std::string& token);
  nlohmann::json alertTemplates(const std::string& token);

  StandinServer& server() { return *standin; }

 private:
  Store store;
  std::unique_ptr<StandinServer> standin;
  std::unique_ptr<httplib::Client> client;
};

// A program started with posix_spawnp (test processes have threads, so no fork). Its standard
// output is a pipe read with readLine; its standard error goes to a file. A child still running
// at the end is killed.
class ChildProcess {
 public:
  ChildProcess(const std::vector<std::string>& arguments, const std::string& errorFile);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Reads the next line of standard output without its line break; false at the end of the
  // output or when no whole line came within the time.
  bool readLine(std::string& line, int timeoutMilliseconds = 10000);
  void signal(int number);
  // Waits for the end and gives the wait status.
  int wait();

 private:
  pid_t pid = -1;
  int output = -1;
};

// Runs a program to its end and gives its exit status (-1 when it did not exit normally).
int run(const std::vector<std::string>& arguments, const std::string& errorFile);

// The record of the given name in a JSON array of records; null when none has it.
nlohmann::json named(const nlohmann::json& records, const std::string& name);

}  // namespace korv::standin::test
