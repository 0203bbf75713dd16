// The stand-in: its REST API against a server running in this process, its data file, and the
// korv-standin program itself.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <iterator>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "server.h"
#include "store.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace korv::standin {
namespace {

using ::korv::test::ReadFile;
using ::korv::test::TempDir;
using nlohmann::json;

constexpr const char* kProbes = "/api/v11/probe/";
constexpr const char* kProbeExport = "/api/v11/probe/custom/export/";
constexpr const char* kProbeImport = "/api/v11/probe/custom/import/";
constexpr const char* kTemplateExport = "/api/v11/alert/custom/export/";
constexpr const char* kTemplateImport = "/api/v11/alert/custom/import/";

struct Reply {
  int status = 0;
  json body;
  std::string token;     // X-Subject-Token
  std::string errormsg;  // empty when there is none
};

// A stand-in on a free port of 127.0.0.1 that lets "admin" in with the password "secret".
class Standin {
 public:
  explicit Standin(const std::string& dataFile, bool withCustomSamples = true)
      : store(dataFile, withCustomSamples), server(adminWithSecret(), store) {
    server.start();
    client = std::make_unique<httplib::Client>("127.0.0.1", server.port());
  }

  Reply request(const std::string& method, const std::string& path, const std::string& token = "",
                const std::string& body = "") {
    httplib::Request request;
    request.method = method;
    request.path = path;
    request.body = body;
    request.headers = {{"Content-Type", "application/json"}, {"X-Auth-Token", token}};
    const httplib::Result result = client->send(request);
    const httplib::Response response = result ? *result : httplib::Response();
    const json parsed = json::parse(response.body, nullptr, false);
    const json errormsg = parsed.is_object() ? parsed.value("errormsg", json()) : json();
    return {response.status, parsed, response.get_header_value("X-Subject-Token"),
            errormsg.is_string() ? errormsg.get<std::string>() : ""};
  }
  Reply logIn(const std::string& user = "admin", const std::string& password = "secret") {
    return request("POST", "/api/token/", "",
                   json{{"username", user}, {"password", password}}.dump());
  }
  json post(const std::string& path, const std::string& token, const json& body) {
    return request("POST", path, token, body.dump()).body;
  }
  json probes(const std::string& token) { return request("GET", kProbes, token).body; }
  int port() const { return server.port(); }

 private:
  static ServerOptions adminWithSecret() {
    ServerOptions options;
    options.users = {{"admin", "secret"}};
    return options;
  }

  Store store;
  StandinServer server;
  std::unique_ptr<httplib::Client> client;
};

// A stand-in with the custom samples on a new data file, and a token of it.
class StandinTest : public ::testing::Test {
 protected:
  TempDir directory;
  Standin standin{directory / "data.json"};
  std::string token = standin.logIn().token;
};

json named(const json& records, const std::string& name) {
  const auto found = std::find_if(records.begin(), records.end(), [&](const json& record) {
    return record.value("name", "") == name;
  });
  return found == records.end() ? json() : *found;
}

json newProbe(const std::string& name) {
  return {{"name", name}, {"internal_name", name}, {"level", "Database"}, {"platform", "Any"}};
}

// The body of an import of probes or alert templates.
json importing(const char* member, const json& items, bool skip, bool skipProbe = false,
               const json& version = "11.0") {
  return {{member, items},
          {"skip_overwrite", skip},
          {"skip_overwrite_probe", skipProbe},
          {"version", version}};
}

// The answer to the bytes sent on a connection of their own, once the server has closed it; ""
// when it has not within three seconds (a server that waits for a promised body gives up after
// five, and one that keeps the connection open waits for the next request).
std::string answerTo(int port, const std::string& request) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const timeval limit{3, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string answer;
  char chunk[4096];
  ssize_t n = -1;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) > 0) {
    while ((n = ::recv(fd, chunk, sizeof chunk, 0)) > 0) {
      answer.append(chunk, static_cast<size_t>(n));
    }
  }
  ::close(fd);
  return n == 0 ? answer : "";
}

std::vector<std::string> statuses(const json& answer) {
  std::vector<std::string> found;
  for (const auto& entry : answer.at("result")) {
    found.push_back(entry.at("status").get<std::string>());
  }
  return found;
}

TEST_F(StandinTest, LetsInOnlyTheRightPasswordAndServesOnlyLiveTokens) {
  const Reply other = standin.logIn();
  EXPECT_EQ(other.status, 201);
  EXPECT_EQ(other.body, json::parse(R"({"supported_api_versions":["v10_api","v11_api"]})"));
  EXPECT_NE(other.token, token);
  for (const Reply& refused : {standin.logIn("admin", "wrong"), standin.logIn("nobody", "secret"),
                               standin.request("GET", kProbes)}) {
    EXPECT_EQ(refused.status, 401) << refused.body;
    EXPECT_NE(refused.errormsg, "") << refused.body;
    EXPECT_EQ(refused.token, "") << refused.body;
  }
  EXPECT_EQ(standin.request("GET", kProbes, token).status, 200);
  EXPECT_EQ(standin.request("DELETE", "/api/token/", token).status, 204);
  EXPECT_EQ(standin.request("GET", kProbes, token).status, 401);
  EXPECT_EQ(standin.request("DELETE", "/api/token/", token).status, 401);
  EXPECT_EQ(standin.request("GET", kProbes, other.token).status, 200);
}

TEST_F(StandinTest, ExportsTheChosenOrAllCustomRecordsAndRefusesUnknownAndSystemIds) {
  const json probes = standin.probes(token);
  const json batch = named(probes, "Nightly Batch Duration");
  EXPECT_EQ(standin.post(kProbeExport, token, {{"probes", {batch.at("id")}}}),
            json({{"version", "11.0"}, {"probes", json::array({batch})}}));
  EXPECT_EQ(
      standin.post(kProbeExport, token, {{"probes", json::array()}}).at("probes"),
      json::array({named(probes, "Orders Queue Depth"), batch, named(probes, "Stale Invoices")}));
  // A template on a custom and a system probe carries the custom one only.
  const json templates =
      standin.post(kTemplateExport, token, {{"alert_templates", json::array()}})["alert_templates"];
  EXPECT_EQ(templates.size(), 3u);
  EXPECT_EQ(named(templates, "Nightly Batch Overrun").at("custom_probes"), json::array({batch}));

  for (const auto& [path, member, id] :
       {std::tuple{kProbeExport, "probes", json(9999)},
        std::tuple{kProbeExport, "probes", named(probes, "CPU Usage").at("id")},
        std::tuple{kTemplateExport, "alert_templates", json(9999)}}) {
    const Reply refused = standin.request("POST", path, token, json{{member, {id}}}.dump());
    EXPECT_EQ(refused.status, 400) << id;
    EXPECT_NE(refused.errormsg.find(id.dump()), std::string::npos) << refused.errormsg;
  }
}

TEST_F(StandinTest, ProbeImportCreatesOverwritesSkipsAndFailsItemByItem) {
  const json before = standin.probes(token);
  json orders = named(before, "Orders Queue Depth");
  orders["interval"] = 30;
  const json incomplete = {{"name", "No Internal Name"}, {"level", "x"}, {"platform", "y"}};
  const json answer = standin.post(
      kProbeImport, token,
      importing("probes",
                json::array({newProbe("Cache Evictions"), orders, newProbe("CPU Usage"), incomplete,
                             newProbe("After The Failures")}),
                false));
  EXPECT_EQ(statuses(answer),
            (std::vector<std::string>{"created", "overwritten", "failed", "failed", "created"}));
  EXPECT_TRUE(answer["result"][3].at("msg").is_string());
  const json after = standin.probes(token);
  EXPECT_EQ(after.size(), before.size() + 2);
  EXPECT_EQ(named(after, "Orders Queue Depth"), orders);
  EXPECT_EQ(named(after, "CPU Usage"), named(before, "CPU Usage"));

  orders["interval"] = 5;
  const json skipped =
      standin.post(kProbeImport, token, importing("probes", json::array({orders}), true));
  EXPECT_EQ(statuses(skipped), std::vector<std::string>{"skipped"});
  EXPECT_TRUE(skipped["result"][0].at("msg").is_string());
  EXPECT_EQ(named(standin.probes(token), "Orders Queue Depth").at("interval"), 30);
}

TEST_F(StandinTest, AlertTemplateImportBringsTheCarriedProbesFollowingSkipOverwriteProbe) {
  Standin target(directory / "target.json", false);
  const std::string targetToken = target.logIn().token;
  json templates = standin.post(kTemplateExport, token, {{"alert_templates", json::array()}})
                       .at("alert_templates");
  json withIncomplete = templates;
  withIncomplete.push_back({{"name", "No Dependency List"}, {"object_type", "Database"}});
  const json first = target.post(kTemplateImport, targetToken,
                                 importing("alert_templates", withIncomplete, false));
  EXPECT_EQ(statuses(first), (std::vector<std::string>{"created", "created", "created", "failed"}));
  EXPECT_TRUE(named(target.probes(targetToken), "Stale Invoices").is_null());  // not depended on

  // The carried probe changes; each switch governs its own kind of record.
  json& carried = templates.at(0).at("custom_probes").at(0);
  carried["interval"] = 7;
  const json probeKept = target.post(kTemplateImport, targetToken,
                                     importing("alert_templates", templates, false, true));
  EXPECT_EQ(statuses(probeKept), std::vector<std::string>(3, "overwritten"));
  EXPECT_NE(named(target.probes(targetToken), carried.at("name")).at("interval"), 7);
  const json templateKept = target.post(kTemplateImport, targetToken,
                                        importing("alert_templates", templates, true, false));
  EXPECT_EQ(statuses(templateKept), std::vector<std::string>(3, "skipped"));
  EXPECT_EQ(named(target.probes(targetToken), carried.at("name")).at("interval"), 7);
}

TEST_F(StandinTest, ImportsOfAnotherMajorVersionAreRefusedWith400AndImportNothing) {
  for (const auto& [version, status] :
       {std::pair{json("11.0"), 200}, std::pair{json("11.7.2"), 200}, std::pair{json("10.4"), 400},
        std::pair{json("12.0"), 400}, std::pair{json("v11"), 400}, std::pair{json(11), 400}}) {
    const std::string name = "Version " + version.dump();
    const json body = importing("probes", json::array({newProbe(name)}), false, false, version);
    const Reply reply = standin.request("POST", kProbeImport, token, body.dump());
    EXPECT_EQ(reply.status, status) << version;
    EXPECT_EQ(reply.errormsg.empty(), status == 200) << version;
    EXPECT_EQ(named(standin.probes(token), name).is_null(), status == 400) << version;
  }
}

TEST_F(StandinTest, BadRequestsAnswer4xxWithAnErrormsgAndTheServerGoesOn) {
  for (const auto& [method, path, body] :
       std::vector<std::tuple<std::string, std::string, std::string>>{
           {"POST", kProbeExport, "not json"},
           {"POST", kProbeExport, R"({"probes":"all"})"},
           {"POST", kProbeImport, R"({"probes":[],"skip_overwrite":"yes","version":"11.0"})"},
           {"POST", kTemplateImport, importing("alert_templates", json::object(), false).dump()},
           {"POST", "/api/token/", "username=admin"},
           {"POST", "/api/v11/nothing/", "{}"},
           {"PUT", kProbes, "{}"}}) {
    const Reply reply = standin.request(method, path, token, body);
    EXPECT_TRUE(reply.status >= 400 && reply.status < 500) << path << " " << body;
    EXPECT_NE(reply.errormsg, "") << path << " " << body;
  }
  EXPECT_EQ(standin.request("GET", kProbes, token).status, 200);
}

TEST_F(StandinTest, ImportsNestedDeeperThan400LevelsAreRefusedAndTheServerGoesOn) {
  for (const auto& [levels, status] : {std::pair{400, 200}, {401, 400}, {100000, 400}}) {
    const std::string name = "Deep " + std::to_string(levels);
    // The body, its array of probes and the probe make three levels.
    std::string body = importing("probes", json::array({newProbe(name)}), false).dump();
    body.insert(std::string(R"({"probes":[{)").size(),
                R"("deep":)" + std::string(levels - 3, '[') + std::string(levels - 3, ']') + ",");
    EXPECT_EQ(standin.request("POST", kProbeImport, token, body).status, status) << levels;
    EXPECT_EQ(named(standin.probes(token), name).is_null(), status != 200) << levels;
  }
}

TEST_F(StandinTest, BodiesOverTheirLimitOrWithoutALengthAreRefusedBeforeTheyAreRead) {
  // A login padded to the limit still gets in.
  const std::string credentials = json{{"username", "admin"}, {"password", "secret"}}.dump();
  const std::string padded = credentials + std::string(65536 - credentials.size(), ' ');
  EXPECT_EQ(standin.request("POST", "/api/token/", "", padded).status, 201);
  const std::string import = "POST /api/v11/probe/custom/import/ HTTP/1.1\r\nHost: x\r\n";
  const std::string logIn = "POST /api/token/ HTTP/1.1\r\nHost: x\r\n";
  for (const auto& [request, status] : std::vector<std::pair<std::string, std::string>>{
           {logIn + "Content-Length: 65537\r\n\r\n", "413"},
           {import + "Content-Length: 67108865\r\n\r\n", "413"},
           {import + "Transfer-Encoding: chunked\r\n\r\n", "411"},
           {logIn + "\r\n", "411"}}) {
    const std::string answer = answerTo(standin.port(), request);
    EXPECT_EQ(answer.substr(0, 12), "HTTP/1.1 " + status) << request;
    EXPECT_NE(answer.find("errormsg"), std::string::npos) << request;
  }
}

TEST_F(StandinTest, ChangesReplaceTheDataFileWholeAndANewServerOnItSeesThem) {
  const std::string before = ReadFile(directory / "data.json");
  ASSERT_EQ(::link((directory / "data.json").c_str(), (directory / "reader.json").c_str()), 0);
  standin.post(kProbeImport, token, importing("probes", json::array({newProbe("Saved")}), false));
  ASSERT_FALSE(named(standin.probes(token), "Saved").is_null());
  // A reader of the old file still has it whole: the new one was renamed over it.
  EXPECT_TRUE(ReadFile(directory / "reader.json") == before);
  const auto entries = std::filesystem::directory_iterator(directory.Path());
  EXPECT_EQ(std::distance(begin(entries), end(entries)), 2);  // no temporary file is left

  Standin second(directory / "data.json", false);
  EXPECT_EQ(second.probes(second.logIn().token), standin.probes(token));
}

TEST(StandinProgram, PrintsItsUrlFirstEndsWithZeroOnSigtermAndRefusesABadDataFileInOneLine) {
  TempDir directory;
  ::korv::test::ProcessOptions options;
  options.environment = ::korv::test::InheritedSanitizerEnvironment();
  options.args = {"--port", "0", "--data", directory / "data.json", "--user", "admin:se:cret"};
  ::korv::test::Process child(KORV_STANDIN_PATH, options);
  std::string url;
  ASSERT_TRUE(child.ReadLine(url)) << child.Wait().err;
  ASSERT_EQ(url.rfind("http://127.0.0.1:", 0), 0u) << url;
  httplib::Client client(url.substr(0, url.size() - 1));
  const auto loggedIn = client.Post("/api/token/", R"({"username":"admin","password":"se:cret"})",
                                    "application/json");
  EXPECT_TRUE(loggedIn && loggedIn->status == 201);
  child.Signal(SIGTERM);
  const auto stopped = child.Wait();
  EXPECT_FALSE(stopped.signaled);
  EXPECT_EQ(stopped.status, 0) << stopped.err;

  ::korv::test::WriteFile(directory / "data.json", R"({"probes": 3})");
  const auto refused = ::korv::test::Run(KORV_STANDIN_PATH, options);
  EXPECT_NE(refused.status, 0);
  EXPECT_NE(refused.err.find("'probes' must be an array"), std::string::npos) << refused.err;
  EXPECT_EQ(refused.err.find('\n'), refused.err.size() - 1) << refused.err;
}

}  // namespace
}  // namespace korv::standin
