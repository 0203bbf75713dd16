// The stand-in's HTTP(S) side: the REST API that korv-cli talks to, served from a Store.
//
//   POST   /api/token/                          log in: {"username", "password"} -> 201,
//                                               header X-Subject-Token, {"supported_api_versions"}
//   DELETE /api/token/                          log out (header X-Auth-Token) -> 204
//   GET    /api/<v>/probe/                      every probe
//   GET    /api/<v>/alert/template/             every alert template
//   POST   /api/<v>/probe/custom/export/        {"probes": [ids]} -> {"version", "probes"}
//   POST   /api/<v>/alert/custom/export/        {"alert_templates": [ids]}
//                                               -> {"version", "alert_templates"}
//   POST   /api/<v>/probe/custom/import/        {"probes", "skip_overwrite", "version"}
//                                               -> {"result": [{"name", "status", "msg"}]}
//   POST   /api/<v>/alert/custom/import/        {"alert_templates", "skip_overwrite",
//                                                "skip_overwrite_probe", "version"} -> likewise
//
// Requests under /api/<v>/ need a live token in X-Auth-Token (else 401) and a version <v> whose
// "<v>_api" is among the configured API versions (else 404). Every failure answers a JSON
// object {"errormsg": "..."} with a 4xx status (500 for a data file that cannot be written).
//
// The server's version is "<N>.0", N being the highest number among the configured versions of
// the form v<N>_api (11 when there is none). Exports carry it in "version"; an import's
// "version" must be a string whose major number (the digits before the first ".") is N.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sessions.h"
#include "store.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace korv::standin {

struct ServerOptions {
  std::string bind = "127.0.0.1";
  int port = 0;                              // 0 takes a free port
  std::map<std::string, std::string> users;  // name -> password
  std::vector<std::string> apiVersions = {"v10_api", "v11_api"};
  std::string tlsCert;  // both set: HTTPS
  std::string tlsKey;
  std::string clientCA;      // set: every client must show a certificate signed by this CA
  std::string fixedToken;    // see Sessions
  bool logRequests = false;  // one line per request on standard error
};

// The highest N among the versions of the form v<N>_api, or 11 when there is none.
int majorVersion(const std::vector<std::string>& apiVersions);

class StandinServer {
 public:
  // Throws std::runtime_error when the TLS certificate or key cannot be used.
  StandinServer(ServerOptions options, Store& store);
  ~StandinServer();
  StandinServer(const StandinServer&) = delete;
  StandinServer& operator=(const StandinServer&) = delete;

  // Binds, starts serving on a thread of its own and returns once the server accepts
  // connections. Throws std::runtime_error when the address cannot be bound.
  void start();
  // Stops serving and waits for the serving thread. Safe to call more than once.
  void stop();

  int port() const { return boundPort; }
  // For example "http://127.0.0.1:40123/".
  std::string baseUrl() const;

 private:
  using Handler = void (StandinServer::*)(const httplib::Request&, httplib::Response&);

  void addRoutes();
  // Checks the token and the version of a request under /api/<v>/; answers 401 or 404 when
  // they do not do.
  bool authorised(const httplib::Request& req, httplib::Response& res);
  // Checks an import's "version": a string of this server's major version; answers 400 otherwise.
  bool versionAccepted(const nlohmann::json& body, httplib::Response& res) const;

  void logIn(const httplib::Request& req, httplib::Response& res);
  void logOut(const httplib::Request& req, httplib::Response& res);
  void listProbes(const httplib::Request& req, httplib::Response& res);
  void listTemplates(const httplib::Request& req, httplib::Response& res);
  void exportProbes(const httplib::Request& req, httplib::Response& res);
  void exportTemplates(const httplib::Request& req, httplib::Response& res);
  void importProbes(const httplib::Request& req, httplib::Response& res);
  void importTemplates(const httplib::Request& req, httplib::Response& res);
  // Imports the items under `arrayName` (checked to be `expected`) and answers the results.
  void serveImport(const httplib::Request& req, httplib::Response& res, const char* arrayName,
                   const char* expected);
  // Answers an export: the records under `member`, and this server's version.
  void answerExport(httplib::Response& res, const char* member, std::string records) const;

  const ServerOptions options;
  Store& store;
  Sessions sessions;
  const int major;
  const std::string version;
  std::unique_ptr<httplib::Server> http;
  std::thread listener;
  std::atomic<bool> listenerDone{false};
  int boundPort = 0;
};

}  // namespace korv::standin
