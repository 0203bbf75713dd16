// The REST API of the stand-in, over HTTP against a server running in this process.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "standin_test_support.h"
#include "tests/support/stub_server.h"

namespace korv::standin::test {
namespace {

using nlohmann::json;

constexpr const char* kProbes = "/api/v11/probe/";
constexpr const char* kTemplates = "/api/v11/alert/template/";
constexpr const char* kProbeExport = "/api/v11/probe/custom/export/";
constexpr const char* kProbeImport = "/api/v11/probe/custom/import/";
constexpr const char* kTemplateExport = "/api/v11/alert/custom/export/";
constexpr const char* kTemplateImport = "/api/v11/alert/custom/import/";

json probeImport(const std::vector<json>& probes, bool skipOverwrite = false,
                 const json& version = "11.0") {
  return {{"probes", json(probes)}, {"skip_overwrite", skipOverwrite}, {"version", version}};
}

json templateImport(const json& templates, bool skipOverwrite, bool skipOverwriteProbe,
                    const json& version = "11.0") {
  return {{"alert_templates", templates},
          {"skip_overwrite", skipOverwrite},
          {"skip_overwrite_probe", skipOverwriteProbe},
          {"version", version}};
}

json newProbe(const std::string& name) {
  return {
      {"name", name}, {"internal_name", "x_" + name}, {"level", "Database"}, {"platform", "Any"}};
}

// The statuses of an import answer, in order.
std::vector<std::string> statuses(const Reply& reply) {
  std::vector<std::string> found;
  for (const auto& entry : reply.body.at("result")) {
    found.push_back(entry.at("status").get<std::string>());
  }
  return found;
}

std::string msgOf(const Reply& reply, std::size_t index) {
  const json& msg = reply.body.at("result").at(index).at("msg");
  return msg.is_null() ? "(null)" : msg.get<std::string>();
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Every record has each key, with a value of one of the allowed kinds ("unsigned" for unsigned
// integers, else the library's type names).
void expectKinds(const json& records, const std::map<std::string, std::string>& kinds) {
  ASSERT_TRUE(records.is_array());
  for (const auto& record : records) {
    for (const auto& [key, allowed] : kinds) {
      const auto value = record.find(key);
      ASSERT_NE(value, record.end()) << key << " in " << record.dump();
      const std::string kind = value->is_number_unsigned() ? "unsigned" : value->type_name();
      EXPECT_TRUE(contains(allowed, kind)) << key << " in " << record.dump();
    }
  }
}

class StandinServerTest : public ::testing::Test {
 protected:
  TempDir directory;
  std::string dataFile = directory / "data.json";
};

TEST_F(StandinServerTest, LoginHandsOutAFreshTokenAndTheConfiguredVersions) {
  TestServer server(dataFile);
  const Reply first = server.logIn();
  EXPECT_EQ(first.status, 201);
  EXPECT_EQ(first.body, json::parse(R"({"supported_api_versions":["v10_api","v11_api"]})"));
  const std::string token = first.headers.find("X-Subject-Token")->second;
  EXPECT_TRUE(std::regex_match(token, std::regex("[0-9a-f]{32}"))) << token;
  EXPECT_NE(server.token(), token);
}

TEST_F(StandinServerTest, LoginRefusesWrongCredentialsWith401AndMalformedBodiesWith400) {
  TestServer server(dataFile);
  for (const auto& [user, password] :
       {std::pair{"admin", "wrong"}, std::pair{"nobody", "secret"}, std::pair{"Admin", "secret"}}) {
    const Reply reply = server.logIn(user, password);
    EXPECT_EQ(reply.status, 401) << user << " " << password;
    EXPECT_TRUE(reply.body.at("errormsg").is_string());
    EXPECT_EQ(reply.headers.count("X-Subject-Token"), 0u);
  }
  for (const std::string body :
       {"username=admin", R"(["admin","secret"])", R"({"username":"admin"})",
        R"({"username":"admin","password":7})"}) {
    const Reply reply = server.post("/api/token/", "", body);
    EXPECT_EQ(reply.status, 400) << body;
    EXPECT_TRUE(reply.body.at("errormsg").is_string()) << body;
  }
}

TEST_F(StandinServerTest, VersionedRequestsNeedALiveTokenAndAReleasedTokenIsDead) {
  TestServer server(dataFile);
  EXPECT_EQ(server.get(kProbes, "").status, 401);
  EXPECT_EQ(server.get(kProbes, "0123456789abcdef0123456789abcdef").status, 401);
  EXPECT_TRUE(server.get(kProbes, "").body.at("errormsg").is_string());

  const std::string token = server.token();
  const std::string other = server.token();
  EXPECT_EQ(server.get(kProbes, token).status, 200);
  // The client sends the header with an extra blank before the value.
  EXPECT_EQ(server.get(kProbes, "  " + token).status, 200);

  const Reply release = server.logOut(" " + token);
  EXPECT_EQ(release.status, 204);
  EXPECT_EQ(release.text, "");
  EXPECT_EQ(server.get(kProbes, token).status, 401);
  EXPECT_EQ(server.logOut(token).status, 401);
  EXPECT_EQ(server.logOut("").status, 401);
  // Releasing one token leaves the others alive.
  EXPECT_EQ(server.get(kTemplates, other).status, 200);
}

TEST_F(StandinServerTest, OnlyTheConfiguredApiVersionsAreServed) {
  ServerOptions options = testOptions();
  options.apiVersions = {"v10_api"};
  TestServer server(dataFile, true, options);
  const Reply login = server.logIn();
  EXPECT_EQ(login.body.at("supported_api_versions"), json::array({"v10_api"}));
  const std::string token = server.token();

  const Reply unsupported = server.get(kProbes, token);
  EXPECT_EQ(unsupported.status, 404);
  EXPECT_TRUE(contains(unsupported.errormsg(), "v11")) << unsupported.errormsg();
  EXPECT_EQ(server.get("/api/v9/probe/", token).status, 404);
  EXPECT_EQ(server.get("/api/v10/probe/", token).status, 200);
  // Exports carry the version of the server, which follows the configured versions.
  const Reply exported =
      server.post("/api/v10/probe/custom/export/", token, json{{"probes", json::array()}});
  EXPECT_EQ(exported.body.at("version"), "10.0");
  // A token is checked before the version.
  EXPECT_EQ(server.get(kProbes, "").status, 401);
}

TEST_F(StandinServerTest, APortInUseIsRefusedAndAFreedOneCanBeTakenAgain) {
  int port = 0;
  {
    TestServer first(dataFile);
    port = first.server().port();
    ServerOptions options = testOptions();
    options.port = port;
    Store store(directory / "other.json", false);
    StandinServer second(options, store);
    EXPECT_THROW(second.start(), std::runtime_error);
    EXPECT_EQ(first.logIn().status, 201);
  }
  ServerOptions options = testOptions();
  options.port = port;
  TestServer again(dataFile, false, options);
  EXPECT_EQ(again.server().baseUrl(), "http://127.0.0.1:" + std::to_string(port) + "/");
  EXPECT_EQ(again.logIn().status, 201);
}

TEST_F(StandinServerTest, AFixedTokenIsHandedOutAndStaysValidFromTheStart) {
  ServerOptions options = testOptions();
  options.fixedToken = "bench-token";
  TestServer server(dataFile, false, options);
  EXPECT_EQ(server.get(kProbes, "bench-token").status, 200);
  EXPECT_EQ(server.token(), "bench-token");
  EXPECT_EQ(server.logOut("bench-token").status, 204);
  EXPECT_EQ(server.get(kProbes, "bench-token").status, 200);
  EXPECT_EQ(server.get(kProbes, "other-token").status, 401);
}

TEST_F(StandinServerTest, ListsAnswerEveryRecordWithTheServerKeys) {
  TestServer server(dataFile, true);
  const std::string token = server.token();
  const Reply probes = server.get(kProbes, token);
  ASSERT_EQ(probes.status, 200);
  EXPECT_EQ(probes.headers.find("Content-Type")->second, "application/json");
  expectKinds(probes.body, {{"id", "unsigned"},
                            {"name", "string"},
                            {"internal_name", "string"},
                            {"level", "string"},
                            {"platform", "string"},
                            {"enabled", "boolean"},
                            {"interval", "unsigned"},
                            {"lifetime", "unsigned"},
                            {"discard_history", "boolean"},
                            {"is_system_probe", "boolean"}});
  EXPECT_EQ(probes.body.size(), 13u);
  EXPECT_TRUE(named(probes.body, "Orders Queue Depth").at("sql").is_string());

  const Reply templates = server.get(kTemplates, token);
  ASSERT_EQ(templates.status, 200);
  expectKinds(templates.body, {{"id", "unsigned"},
                               {"name", "string"},
                               {"description", "string"},
                               {"is_system_template", "boolean"},
                               {"object_type", "string"},
                               {"is_auto_create", "boolean"},
                               {"probe_dependency_list", "array"},
                               {"default_check_frequency", "unsigned"},
                               {"default_history_retention", "unsigned"},
                               {"info_sql", "string|null"},
                               {"operator", "string"},
                               {"low_threshold_value", "string|null"},
                               {"medium_threshold_value", "string|null"},
                               {"high_threshold_value", "string|null"}});
  EXPECT_EQ(templates.body.size(), 10u);
}

TEST_F(StandinServerTest, ProbeExportAnswersTheChosenCustomProbesOrAllOfThem) {
  TestServer server(dataFile, true);
  const std::string token = server.token();
  const json probes = server.probes(token);
  const json batch = named(probes, "Nightly Batch Duration");
  const json orders = named(probes, "Orders Queue Depth");

  const Reply chosen =
      server.post(kProbeExport, token, json{{"probes", {batch.at("id"), batch.at("id")}}});
  ASSERT_EQ(chosen.status, 200);
  EXPECT_EQ(chosen.body, json({{"version", "11.0"}, {"probes", json::array({batch})}}));

  const Reply ordered =
      server.post(kProbeExport, token, json{{"probes", {batch.at("id"), orders.at("id")}}});
  EXPECT_EQ(ordered.body.at("probes"), json::array({batch, orders}));

  const Reply all = server.post(kProbeExport, token, json{{"probes", json::array()}});
  ASSERT_EQ(all.status, 200);
  std::set<std::string> names;
  for (const auto& probe : all.body.at("probes")) {
    EXPECT_FALSE(probe.at("is_system_probe").get<bool>());
    names.insert(probe.at("name").get<std::string>());
  }
  EXPECT_EQ(names, (std::set<std::string>{"Orders Queue Depth", "Nightly Batch Duration",
                                          "Stale Invoices"}));
}

TEST_F(StandinServerTest, ExportsRefuseUnknownAndSystemIdsNamingThem) {
  TestServer server(dataFile, true);
  const std::string token = server.token();
  const std::string systemProbe = named(server.probes(token), "CPU Usage").at("id").dump();
  const std::string systemTemplate =
      named(server.alertTemplates(token), "High CPU Usage").at("id").dump();
  const std::vector<std::tuple<const char*, json, std::string>> cases = {
      {kProbeExport, {{"probes", {9999}}}, "9999"},
      {kProbeExport, {{"probes", {-4}}}, "-4"},
      {kProbeExport, {{"probes", json::array({json::parse(systemProbe)})}}, systemProbe},
      {kTemplateExport, {{"alert_templates", {8888}}}, "8888"},
      {kTemplateExport,
       {{"alert_templates", json::array({json::parse(systemTemplate)})}},
       systemTemplate},
  };
  for (const auto& [path, body, id] : cases) {
    const Reply reply = server.post(path, token, body);
    EXPECT_EQ(reply.status, 400) << body.dump();
    EXPECT_TRUE(contains(reply.errormsg(), "id " + id)) << reply.errormsg();
  }
}

TEST_F(StandinServerTest, AlertTemplateExportCarriesOnlyTheCustomProbesItDependsOn) {
  TestServer server(dataFile, true);
  const std::string token = server.token();
  const json probes = server.probes(token);
  const Reply all = server.post(kTemplateExport, token, json{{"alert_templates", json::array()}});
  ASSERT_EQ(all.status, 200);
  EXPECT_EQ(all.body.at("version"), "11.0");
  const json& templates = all.body.at("alert_templates");
  ASSERT_EQ(templates.size(), 3u);

  EXPECT_EQ(named(templates, "Orders Backlog").at("custom_probes"),
            json::array({named(probes, "Orders Queue Depth")}));
  // Depends on a custom and a system probe: only the custom one travels.
  EXPECT_EQ(named(templates, "Nightly Batch Overrun").at("custom_probes"),
            json::array({named(probes, "Nightly Batch Duration")}));
  EXPECT_EQ(named(templates, "Session Surge").at("custom_probes"), json::array());
}

TEST_F(StandinServerTest, ProbeImportCreatesOverwritesSkipsAndFailsItemByItem) {
  TestServer server(dataFile, true);
  const std::string token = server.token();
  const json before = server.probes(token);
  const json orders = named(before, "Orders Queue Depth");

  json posingAsSystem = newProbe("Cache Evictions");
  posingAsSystem["id"] = 1;
  posingAsSystem["is_system_probe"] = true;
  posingAsSystem["sql"] = "SELECT evictions FROM cache_stats";
  json changedOrders = orders;
  changedOrders["interval"] = 30;
  changedOrders.erase("id");
  json badInterval = newProbe("Bad Interval");
  badInterval["interval"] = "often";

  const Reply reply =
      server.post(kProbeImport, token,
                  probeImport({posingAsSystem,
                               changedOrders,
                               newProbe("CPU Usage"),
                               {{"name", "No Internal Name"}, {"level", "x"}, {"platform", "y"}},
                               42,
                               badInterval}));
  ASSERT_EQ(reply.status, 200);
  EXPECT_EQ(statuses(reply), (std::vector<std::string>{"created", "overwritten", "failed", "failed",
                                                       "failed", "failed"}));
  const json& result = reply.body.at("result");
  EXPECT_EQ(result[0],
            json({{"name", "Cache Evictions"}, {"status", "created"}, {"msg", nullptr}}));
  EXPECT_TRUE(result[1].at("msg").is_null());
  EXPECT_TRUE(contains(msgOf(reply, 2), "system")) << msgOf(reply, 2);
  EXPECT_TRUE(contains(msgOf(reply, 3), "internal_name")) << msgOf(reply, 3);
  EXPECT_EQ(result[4].at("name"), "item 5");
  EXPECT_TRUE(contains(msgOf(reply, 5), "interval")) << msgOf(reply, 5);

  const json after = server.probes(token);
  EXPECT_EQ(after.size(), before.size() + 1);
  const json created = named(after, "Cache Evictions");
  EXPECT_FALSE(created.at("is_system_probe").get<bool>());
  EXPECT_EQ(created.at("sql"), "SELECT evictions FROM cache_stats");
  EXPECT_EQ(created.at("enabled"), true);  // filled in
  for (const auto& probe : before) {
    EXPECT_NE(probe.at("id"), created.at("id"));
  }
  EXPECT_EQ(named(after, "Orders Queue Depth").at("id"), orders.at("id"));
  EXPECT_EQ(named(after, "Orders Queue Depth").at("interval"), 30);
  EXPECT_EQ(named(after, "CPU Usage"), named(before, "CPU Usage"));

  // With skip_overwrite an existing custom probe is left alone, with a reason.
  changedOrders["interval"] = 5;
  const Reply skipped = server.post(kProbeImport, token, probeImport({changedOrders}, true));
  EXPECT_EQ(statuses(skipped), std::vector<std::string>{"skipped"});
  EXPECT_NE(msgOf(skipped, 0), "(null)");
  EXPECT_EQ(named(server.probes(token), "Orders Queue Depth").at("interval"), 30);
}

TEST_F(StandinServerTest, AlertTemplateImportBringsItsCarriedProbesFollowingTheirOwnSwitch) {
  TempDir otherDirectory;
  TestServer source(otherDirectory / "source.json", true);
  TestServer target(dataFile, false);
  const std::string sourceToken = source.token();
  const std::string token = target.token();
  json exported =
      source.post(kTemplateExport, sourceToken, json{{"alert_templates", json::array()}}).body;

  const Reply first = target.post(
      kTemplateImport, token,
      templateImport(exported.at("alert_templates"), false, false, exported.at("version")));
  ASSERT_EQ(first.status, 200);
  EXPECT_EQ(statuses(first), (std::vector<std::string>{"created", "created", "created"}));
  EXPECT_TRUE(contains(msgOf(first, 0), "Probe 'Orders Queue Depth' created")) << msgOf(first, 0);
  const json probes = target.probes(token);
  EXPECT_FALSE(named(probes, "Orders Queue Depth").at("is_system_probe").get<bool>());
  EXPECT_FALSE(named(probes, "Nightly Batch Duration").is_null());
  EXPECT_TRUE(named(probes, "Stale Invoices").is_null());  // no template depends on it
  const json templates = target.alertTemplates(token);
  EXPECT_EQ(named(templates, "Nightly Batch Overrun").at("probe_dependency_list"),
            json::array({"Nightly Batch Duration", "Session Count"}));
  EXPECT_FALSE(named(templates, "Orders Backlog").contains("custom_probes"));

  // A changed carried probe is kept out by skip_overwrite_probe, let in without it.
  json& carried = exported["alert_templates"][0]["custom_probes"][0];
  carried["interval"] = 7;
  const Reply kept = target.post(kTemplateImport, token,
                                 templateImport(exported.at("alert_templates"), true, true));
  EXPECT_EQ(statuses(kept), (std::vector<std::string>{"skipped", "skipped", "skipped"}));
  EXPECT_TRUE(contains(msgOf(kept, 0), "Probe 'Orders Queue Depth' skipped")) << msgOf(kept, 0);
  EXPECT_NE(named(target.probes(token), "Orders Queue Depth").at("interval"), 7);

  const Reply replaced = target.post(kTemplateImport, token,
                                     templateImport(exported.at("alert_templates"), false, false));
  EXPECT_EQ(statuses(replaced),
            (std::vector<std::string>{"overwritten", "overwritten", "overwritten"}));
  EXPECT_TRUE(msgOf(replaced, 2) == "(null)") << msgOf(replaced, 2);  // carried nothing
  EXPECT_EQ(named(target.probes(token), "Orders Queue Depth").at("interval"), 7);
  EXPECT_EQ(named(target.alertTemplates(token), "Orders Backlog").at("id"),
            named(templates, "Orders Backlog").at("id"));
}

TEST_F(StandinServerTest, AlertTemplateImportFailsOnMissingProbesAndSystemNamesAndGoesOn) {
  TestServer server(dataFile, false);
  const std::string token = server.token();
  const json base = {{"name", "Needs Unknown"},
                     {"object_type", "Database"},
                     {"probe_dependency_list", {"Unknown Probe", "CPU Usage"}}};
  json carriesBrokenProbe = base;
  carriesBrokenProbe["name"] = "Carries Broken Probe";
  carriesBrokenProbe["custom_probes"] = json::array({json{{"name", "Unknown Probe"}}});
  json systemName = base;
  systemName["name"] = "High CPU Usage";
  systemName["probe_dependency_list"] = json::array({"CPU Usage"});
  json onSystemProbe = base;
  onSystemProbe["name"] = "On System Probe";
  onSystemProbe["probe_dependency_list"] = json::array({"CPU Usage"});
  json noDependencyList = base;
  noDependencyList.erase("probe_dependency_list");

  const Reply reply = server.post(
      kTemplateImport, token,
      templateImport({base, carriesBrokenProbe, systemName, onSystemProbe, noDependencyList}, false,
                     false));
  ASSERT_EQ(reply.status, 200);
  EXPECT_EQ(statuses(reply),
            (std::vector<std::string>{"failed", "failed", "failed", "created", "failed"}));
  EXPECT_TRUE(contains(msgOf(reply, 0), "'Unknown Probe'")) << msgOf(reply, 0);
  EXPECT_FALSE(contains(msgOf(reply, 0), "'CPU Usage'")) << msgOf(reply, 0);
  EXPECT_TRUE(contains(msgOf(reply, 1), "Probe 'Unknown Probe' failed")) << msgOf(reply, 1);
  EXPECT_TRUE(contains(msgOf(reply, 2), "system")) << msgOf(reply, 2);
  EXPECT_TRUE(contains(msgOf(reply, 4), "probe_dependency_list")) << msgOf(reply, 4);

  const json created = named(server.alertTemplates(token), "On System Probe");
  EXPECT_FALSE(created.at("is_system_template").get<bool>());
  EXPECT_EQ(created.at("operator"), ">");  // filled in
  EXPECT_TRUE(created.at("info_sql").is_null());
}

TEST_F(StandinServerTest, ImportsAcceptOnlyVersionStringsOfTheServersMajorVersion) {
  TestServer server(dataFile, false);
  const std::string token = server.token();
  int created = 0;
  for (const std::string version : {"11.0", "11", "11.7.2"}) {
    const Reply reply =
        server.post(kProbeImport, token, probeImport({newProbe("P" + version)}, false, version));
    EXPECT_EQ(reply.status, 200) << version << ": " << reply.errormsg();
    created += reply.status == 200 ? 1 : 0;
  }
  const std::size_t count = server.probes(token).size();
  for (const json& version :
       {json("10.4"), json("12.0"), json("v11"), json(""), json(11), json(11.0), json(nullptr)}) {
    const Reply reply =
        server.post(kProbeImport, token, probeImport({newProbe("Refused")}, false, version));
    EXPECT_EQ(reply.status, 400) << version.dump();
    EXPECT_TRUE(reply.body.at("errormsg").is_string()) << version.dump();
  }
  const Reply templates =
      server.post(kTemplateImport, token, templateImport(json::array(), false, false, "10.0"));
  EXPECT_EQ(templates.status, 400);
  EXPECT_TRUE(contains(templates.errormsg(), "10.0")) << templates.errormsg();
  EXPECT_EQ(server.probes(token).size(), count);
  EXPECT_EQ(created, 3);
}

TEST_F(StandinServerTest, BadRequestsAnswerA4xxStatusWithAnErrormsgAndTheServerGoesOn) {
  TestServer server(dataFile, true);
  const std::string token = server.token();
  const json goodImport = probeImport({});
  json noSkip = goodImport;
  noSkip.erase("skip_overwrite");
  json wordySkip = goodImport;
  wordySkip["skip_overwrite"] = "yes";
  json probesAsObject = goodImport;
  probesAsObject["probes"] = json::object();
  json noSkipProbe = templateImport(json::array(), false, false);
  noSkipProbe.erase("skip_overwrite_probe");

  const std::vector<std::pair<const char*, std::string>> posts = {
      {kProbeExport, "not json"},
      {kProbeExport, "[1,2]"},
      {kProbeExport, "{}"},
      {kProbeExport, R"({"probes":"all"})"},
      {kProbeExport, R"({"probes":["1"]})"},
      {kProbeExport, R"({"probes":[1.5]})"},
      {kTemplateExport, R"({"probes":[]})"},
      {kProbeImport, ""},
      {kProbeImport, noSkip.dump()},
      {kProbeImport, wordySkip.dump()},
      {kProbeImport, probesAsObject.dump()},
      {kTemplateImport, noSkipProbe.dump()},
      {kTemplateImport, goodImport.dump()},
      {"/api/v11/nothing/", "{}"},
      {"/api/v11/probe", "{}"},
  };
  for (const auto& [path, body] : posts) {
    const Reply reply = server.post(path, token, body);
    EXPECT_GE(reply.status, 400) << path << " " << body;
    EXPECT_LT(reply.status, 500) << path << " " << body;
    EXPECT_TRUE(reply.body.is_object() && reply.body.at("errormsg").is_string())
        << path << " " << body << ": " << reply.text;
  }
  for (const Reply& reply :
       {server.get("/nowhere", token), server.get("/api/token/", token), server.put(kProbes, token),
        server.get("/api/v11/probe/1/", token), server.get("/%FF%FE", token)}) {
    EXPECT_EQ(reply.status, 404) << reply.text;
    EXPECT_TRUE(reply.body.at("errormsg").is_string()) << reply.text;
  }
  EXPECT_EQ(server.get(kProbes, token).status, 200);
}

TEST_F(StandinServerTest, ImportsAreSavedAndASecondServerOnTheSameFileSeesThem) {
  json createdProbe;
  {
    TestServer first(dataFile, false);
    const std::string token = first.token();
    ASSERT_EQ(first.post(kProbeImport, token, probeImport({newProbe("Saved")})).status, 200);
    createdProbe = named(first.probes(token), "Saved");
  }
  TestServer second(dataFile, false);
  const std::string token = second.token();
  EXPECT_EQ(named(second.probes(token), "Saved"), createdProbe);
  // Ids are never handed out twice, across restarts too.
  second.post(kProbeImport, token, probeImport({newProbe("Later")}));
  EXPECT_GT(named(second.probes(token), "Later").at("id"), createdProbe.at("id"));
}

TEST_F(StandinServerTest, ConcurrentImportsAndListsAllLand) {
  TestServer server(dataFile, false);
  const std::size_t before = server.probes(server.token()).size();
  const int threads = 4;
  const int perThread = 10;
  std::atomic<int> failures{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&, t] {
      httplib::Client client("127.0.0.1", server.server().port());
      const json login{{"username", "admin"}, {"password", "secret"}};
      const auto reply = client.Post("/api/token/", login.dump(), "application/json");
      if (!reply || reply->status != 201) {
        ++failures;
        return;
      }
      const httplib::Headers headers{{"X-Auth-Token", reply->get_header_value("X-Subject-Token")}};
      for (int i = 0; i < perThread; ++i) {
        const json body =
            probeImport({newProbe("T" + std::to_string(t) + "-" + std::to_string(i))});
        const auto imported = client.Post(kProbeImport, headers, body.dump(), "application/json");
        const auto listed = client.Get(kProbes, headers);
        if (!imported || imported->status != 200 || !listed || listed->status != 200) {
          ++failures;
        }
      }
    });
  }
  for (auto& worker : workers) {
    worker.join();
  }
  EXPECT_EQ(failures, 0);
  const json probes = server.probes(server.token());
  std::set<json> ids;
  for (const auto& probe : probes) {
    ids.insert(probe.at("id"));
  }
  EXPECT_EQ(probes.size(), before + threads * perThread);
  EXPECT_EQ(ids.size(), probes.size());
}

TEST_F(StandinServerTest, AListOfAHundredThousandProbesIsServedWhole) {
  const std::size_t count = 100000;
  std::string text = R"({"next_id":1,"probes":[)";
  for (std::size_t i = 1; i <= count; ++i) {
    const std::string n = std::to_string(i);
    text += (i > 1 ? "," : "") + json{{"id", i},
                                      {"name", "Generated probe " + n},
                                      {"internal_name", "generated_" + n},
                                      {"level", "Database"},
                                      {"platform", "Any"},
                                      {"enabled", true},
                                      {"interval", 60},
                                      {"lifetime", 30},
                                      {"discard_history", false},
                                      {"is_system_probe", i % 2 == 0},
                                      {"description", "A probe made up to measure the list."}}
                                     .dump();
  }
  WriteFile(dataFile, text + "]}");
  TestServer server(dataFile, false);

  const auto started = std::chrono::steady_clock::now();
  const Reply reply = server.get(kProbes, server.token());
  const auto elapsed = std::chrono::steady_clock::now() - started;
  ASSERT_EQ(reply.status, 200);
  EXPECT_EQ(reply.body.size(), count);
  EXPECT_EQ(reply.body.back().at("name"), "Generated probe 100000");
  RecordProperty(
      "list_milliseconds",
      std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()));
}

TEST_F(StandinServerTest, ServesHttpsWithTheGivenCertificate) {
  const std::string cert = ::korv::test::TestCertificate().certPath;
  const std::string key = ::korv::test::TestCertificate().keyPath;
  ServerOptions options = testOptions();
  options.tlsCert = cert;
  options.tlsKey = key;
  TestServer server(dataFile, false, options);
  EXPECT_EQ(server.server().baseUrl().rfind("https://127.0.0.1:", 0), 0u)
      << server.server().baseUrl();

  httplib::SSLClient client("127.0.0.1", server.server().port());
  client.set_ca_cert_path(cert.c_str());
  client.enable_server_certificate_verification(true);
  const json login{{"username", "admin"}, {"password", "secret"}};
  const auto reply = client.Post("/api/token/", login.dump(), "application/json");
  ASSERT_TRUE(reply) << httplib::to_string(reply.error());
  EXPECT_EQ(reply->status, 201);

  ServerOptions broken = testOptions();
  broken.tlsCert = key;  // a key is no certificate
  broken.tlsKey = key;
  Store store(directory / "other.json", false);
  EXPECT_THROW(StandinServer(broken, store), std::runtime_error);
}

}  // namespace
}  // namespace korv::standin::test
