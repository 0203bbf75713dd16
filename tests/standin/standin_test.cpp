// korv-standin as a client of its REST API meets it: logins and tokens, exports and imports item
// by item, refusals, its data file, its sockets, and the program's start and end.
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/tcp.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <filesystem>

#include <nlohmann/json.hpp>

#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace korv::test {
namespace {

using nlohmann::json;

constexpr const char* kProbes = "/api/v11/probe/";
constexpr const char* kProbeExport = "/api/v11/probe/custom/export/";
constexpr const char* kProbeImport = "/api/v11/probe/custom/import/";
constexpr const char* kTemplateExport = "/api/v11/alert/custom/export/";
constexpr const char* kTemplateImport = "/api/v11/alert/custom/import/";

struct Answer {
  int status = 0;
  json body;
  std::string token;  // X-Subject-Token
  std::string errormsg() const { return body.is_object() ? body.value("errormsg", "") : ""; }
};

// korv-standin on a data file of its own that lets "admin" in with the password "secret", and a
// client logged in to it.
class StandinTest : public ::testing::Test {
 protected:
  std::unique_ptr<Standin> Start(const std::string& data, std::vector<std::string> args = {}) {
    args.insert(args.end(), {"--data", dir / data, "--user", "admin:secret"});
    auto started = std::make_unique<Standin>(args);
    client = std::make_unique<httplib::Client>(started->Url().substr(0, started->Url().size() - 1));
    token = LogIn().token;
    return started;
  }
  Answer Call(const std::string& method, const std::string& path, const std::string& body = "") {
    httplib::Request request;
    request.method = method;
    request.path = path;
    request.body = body;
    request.headers = {{"Content-Type", "application/json"}, {"X-Auth-Token", token}};
    const httplib::Result result = client->send(request);
    const httplib::Response response = result ? *result : httplib::Response();
    return {response.status, json::parse(response.body, nullptr, false),
            response.get_header_value("X-Subject-Token")};
  }
  json Post(const std::string& path, const json& body) {
    return Call("POST", path, body.dump()).body;
  }
  Answer LogIn(const std::string& user = "admin", const std::string& password = "secret") {
    return Call("POST", "/api/token/", json{{"username", user}, {"password", password}}.dump());
  }
  // The listed probe with the name; null when there is none.
  json Probe(const std::string& name) {
    for (const json& probe : Call("GET", kProbes).body) {
      if (probe["name"] == name) {
        return probe;
      }
    }
    return json();
  }

  TempDir dir;
  std::unique_ptr<httplib::Client> client;
  std::string token;
  std::unique_ptr<Standin> standin = Start("data.json", {"--with-custom-samples"});
};

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

std::vector<std::string> statuses(const json& answer) {
  std::vector<std::string> found;
  for (const auto& entry : answer.at("result")) {
    found.push_back(entry.at("status").get<std::string>());
  }
  return found;
}

TEST_F(StandinTest, LetsInOnlyTheRightPasswordAndServesOnlyLiveTokens) {
  const Answer other = LogIn();
  EXPECT_EQ(other.status, 201);
  EXPECT_EQ(other.body, json::parse(R"({"supported_api_versions":["v10_api","v11_api"]})"));
  EXPECT_EQ(Call("DELETE", "/api/token/").status, 204);
  for (const Answer& refused :
       {LogIn("admin", "wrong"), LogIn("nobody", "secret"), Call("GET", kProbes)}) {
    EXPECT_EQ(refused.status, 401) << refused.body;
    EXPECT_NE(refused.errormsg(), "") << refused.body;
    EXPECT_EQ(refused.token, "") << refused.body;
  }
  token = other.token;
  EXPECT_EQ(Call("GET", kProbes).status, 200);
}

TEST_F(StandinTest, ExportsTheChosenOrAllCustomRecordsAndRefusesTheRestWith4xx) {
  const json batch = Probe("Nightly Batch Duration");
  EXPECT_EQ(Post(kProbeExport, {{"probes", {batch["id"]}}}),
            json({{"version", "11.0"}, {"probes", json::array({batch})}}));
  EXPECT_EQ(Post(kProbeExport, {{"probes", json::array()}})["probes"],
            json::array({Probe("Orders Queue Depth"), batch, Probe("Stale Invoices")}));
  // A template on a custom and a system probe carries the custom one only.
  const json templates = Post(kTemplateExport, {{"alert_templates", json::array()}});
  EXPECT_EQ(templates["alert_templates"][1]["custom_probes"], json::array({batch}));

  const std::string system = Probe("CPU Usage")["id"].dump();
  // 400 levels: the object and those of its member "x".
  const std::string deep =
      R"({"probes":[],"x":)" + std::string(399, '[') + std::string(399, ']') + "}";
  // The path, the body, the status and a text the refusal names.
  const std::tuple<std::string, std::string, int, std::string> refusals[] = {
      {kProbeExport, R"({"probes":[)" + system + "]}", 400, system},
      {kTemplateExport, R"({"alert_templates":[9999]})", 400, "9999"},
      {kProbeExport, "[" + deep + "]", 400, "nested"},
      {kProbeImport, R"({"probes":[],"skip_overwrite":"yes","version":"11.0"})", 400, "skip"},
      {"/api/token/", "username=admin", 400, "JSON"},
      {"/api/token/", std::string(65537, ' '), 413, "larger"},
      {"/api/v11/nothing/", "{}", 404, "/api/v11/nothing/"}};
  for (const auto& [path, body, status, named] : refusals) {
    const Answer refused = Call("POST", path, body);
    EXPECT_EQ(refused.status, status) << path << " " << body.substr(0, 40);
    EXPECT_NE(refused.errormsg().find(named), std::string::npos) << refused.errormsg();
  }
  EXPECT_EQ(Call("POST", kProbeExport, deep).status, 200);
}

TEST_F(StandinTest, ProbeImportCreatesOverwritesSkipsAndFailsItemByItemInTheMajorVersionOnly) {
  json orders = Probe("Orders Queue Depth");
  orders["interval"] = 30;
  const json incomplete = {{"name", "No Internal Name"}, {"level", "x"}, {"platform", "y"}};
  const json items = json::array({newProbe("Cache Evictions"), orders, newProbe("CPU Usage"),
                                  incomplete, newProbe("After The Failures")});
  EXPECT_EQ(statuses(Post(kProbeImport, importing("probes", items, false))),
            (std::vector<std::string>{"created", "overwritten", "failed", "failed", "created"}));
  EXPECT_EQ(Probe("Orders Queue Depth"), orders);
  EXPECT_EQ(Probe("CPU Usage")["level"], "Server");
  orders["interval"] = 5;
  EXPECT_EQ(statuses(Post(kProbeImport, importing("probes", json::array({orders}), true))),
            std::vector<std::string>{"skipped"});
  EXPECT_EQ(Probe("Orders Queue Depth")["interval"], 30);

  for (const json& version : {json("11.7.2"), json("10.4"), json("12.0"), json("v11"), json(11)}) {
    const std::string name = "Version " + version.dump();
    const json body = importing("probes", json::array({newProbe(name)}), false, false, version);
    const Answer answer = Call("POST", kProbeImport, body.dump());
    const bool accepted = version == "11.7.2";
    EXPECT_EQ(answer.status, accepted ? 200 : 400) << version;
    EXPECT_EQ(Probe(name).is_null(), !accepted) << version;
  }
}

TEST_F(StandinTest, AlertTemplateImportBringsTheCarriedProbesFollowingSkipOverwriteProbe) {
  json templates = Post(kTemplateExport, {{"alert_templates", json::array()}})["alert_templates"];
  const auto target = Start("target.json");
  EXPECT_EQ(statuses(Post(kTemplateImport, importing("alert_templates", templates, false))),
            std::vector<std::string>(3, "created"));
  EXPECT_TRUE(Probe("Stale Invoices").is_null());  // not depended on

  // The carried probe changes; each switch governs its own kind of record.
  json& carried = templates.at(0).at("custom_probes").at(0);
  carried["interval"] = 7;
  EXPECT_EQ(statuses(Post(kTemplateImport, importing("alert_templates", templates, false, true))),
            std::vector<std::string>(3, "overwritten"));
  EXPECT_NE(Probe(carried["name"])["interval"], 7);
  EXPECT_EQ(statuses(Post(kTemplateImport, importing("alert_templates", templates, true, false))),
            std::vector<std::string>(3, "skipped"));
  EXPECT_EQ(Probe(carried["name"])["interval"], 7);
}

// Answers leave at once (TCP_NODELAY): with Nagle's algorithm an answer written in more than one
// piece, as over TLS, waits for the client's delayed acknowledgement. The program's sockets are
// looked at through copies of its descriptors.
TEST_F(StandinTest, SendsItsAnswersWithoutWaitingForAnAcknowledgementOnEverySocket) {
  client->set_keep_alive(true);
  Call("GET", kProbes);
  const long pidfd = ::syscall(SYS_pidfd_open, standin->Pid(), 0);
  int sockets = 0;
  for (int target = 0; target < 64; ++target) {
    const int fd = static_cast<int>(::syscall(SYS_pidfd_getfd, pidfd, target, 0));
    int on = 0;
    socklen_t size = sizeof on;
    if (::getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, &size) == 0) {
      ++sockets;
      EXPECT_EQ(on, 1);
    }
    ::close(fd);
  }
  ::close(static_cast<int>(pidfd));
  EXPECT_GE(sockets, 2);  // the listener and the client's connection
  client.reset();         // else the stand-in's end waits for the idle connection
}

TEST_F(StandinTest, ReplacesItsDataFileWholeAndEndsWithZeroOnSigterm) {
  const std::string before = ReadFile(dir / "data.json");
  ASSERT_EQ(::link((dir / "data.json").c_str(), (dir / "reader.json").c_str()), 0);
  Post(kProbeImport, importing("probes", json::array({newProbe("Saved")}), false));
  // A reader of the old file still has it whole: the new one was renamed over it.
  EXPECT_TRUE(ReadFile(dir / "reader.json") == before);
  EXPECT_EQ(Entries(dir.Path()), (std::vector<std::string>{"data.json", "reader.json"}));
  const json probes = Call("GET", kProbes).body;
  EXPECT_EQ(standin->Stop().status, 0);

  standin = Start("data.json");
  EXPECT_EQ(Call("GET", kProbes).body, probes);
  WriteFile(dir / "bad.json", R"({"probes": 3})");
  ProcessOptions options;
  options.args = {"--port", "0", "--data", dir / "bad.json", "--user", "a:b"};
  options.environment = InheritedSanitizerEnvironment();
  const ProcessResult refused = test::Run(KORV_STANDIN_PATH, options);
  EXPECT_NE(refused.status, 0);
  EXPECT_NE(refused.err.find("'probes' must be an array"), std::string::npos) << refused.err;
  EXPECT_EQ(refused.err.find('\n'), refused.err.size() - 1) << refused.err;
}

// A figure of /proc/PID/status in kB, such as the resident memory "VmRSS" or its peak "VmHWM".
long memoryKb(pid_t pid, const std::string& figure) {
  const std::string status = ReadFile("/proc/" + std::to_string(pid) + "/status");
  return std::stol(status.substr(status.find(figure + ":") + figure.size() + 1));
}

// Imports of many probes, each over a new connection (and so perhaps another worker thread), cost
// the stand-in a few times its data at most, however many come. The sanitizers' own bookkeeping
// would hide the stand-in's.
TEST_F(StandinTest, KeepsItsMemoryWithinAFewTimesItsDataOverLargeImports) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer holds freed memory back";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  GTEST_SKIP() << "AddressSanitizer holds freed memory back";
#endif
#endif
  json probes = json::array();
  for (int i = 0; i < 10000; ++i) {
    probes.push_back(newProbe("Probe " + std::to_string(i)));
    probes.back()["description"] = "A probe of the memory test, " + std::to_string(i);
  }
  const std::string body = importing("probes", probes, false).dump();
  const long before = memoryKb(standin->Pid(), "VmRSS");
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Call("POST", kProbeImport, body).status, 200);
  }
  const long dataKb = static_cast<long>(std::filesystem::file_size(dir / "data.json") / 1024);
  EXPECT_LT(memoryKb(standin->Pid(), "VmHWM") - before, 5 * dataKb) << "data: " << dataKb << " kB";
}

}  // namespace
}  // namespace korv::test
