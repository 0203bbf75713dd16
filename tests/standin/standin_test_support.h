// Shared pieces of the stand-in's tests: temporary directories, a stand-in running in-process on
// a free loopback port, and small request helpers.
#pragma once

#include <httplib.h>

#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "server.h"
#include "store.h"
#include "tests/support/temp_dir.h"

namespace korv::standin::test {

using ::korv::test::ReadFile;
using ::korv::test::TempDir;
using ::korv::test::WriteFile;

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

// The record of the given name in a JSON array of records; null when none has it.
nlohmann::json named(const nlohmann::json& records, const std::string& name);

}  // namespace korv::standin::test
