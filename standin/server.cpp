#include "server.h"

#include <httplib.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <utility>

#include "records.h"

namespace korv::standin {
namespace {

using httplib::Request;
using httplib::Response;
using nlohmann::json;

constexpr int kDefaultMajor = 11;
// Request bodies are limited before they are read: a login is tiny, an import of 100,000 probes
// about 15 MB.
constexpr std::uint64_t kLoginBodyLimit = 64 * 1024;
constexpr std::uint64_t kBodyLimit = 64 * 1024 * 1024;

void answer(Response& res, int status, const json& body) {
  res.status = status;
  // Texts taken from the request line may hold bytes that are not UTF-8.
  res.set_content(body.dump(-1, ' ', false, json::error_handler_t::replace), "application/json");
}

void refuse(Response& res, int status, const std::string& message) {
  answer(res, status, json{{"errormsg", message}});
}

// Refuses a request without reading its body and closes the connection after the answer, so that
// a body the client still sends is never read as the next request (into an unbounded request
// line). This version of the library keeps a connection open after any answer it writes in full;
// a content provider that reports failure once it has written the whole answer gets it closed.
void refuseUnread(Response& res, int status, const std::string& message) {
  const std::string body = json{{"errormsg", message}}.dump();
  res.status = status;
  res.set_header("Connection", "close");
  res.set_content_provider(body.size(), "application/json",
                           [body](size_t, size_t, httplib::DataSink& sink) {
                             sink.write(body.data(), body.size());
                             return false;
                           });
}

std::string trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) {
    return {};
  }
  const auto last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

bool allDigits(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(),
                                      [](unsigned char c) { return std::isdigit(c) != 0; });
}

// Answers 200 with a JSON text, handed to the connection without a copy.
void answerText(Response& res, std::shared_ptr<const std::string> text) {
  res.status = 200;
  res.set_content_provider(text->size(), "application/json",
                           [text](size_t offset, size_t length, httplib::DataSink& sink) {
                             return sink.write(text->data() + offset, length);
                           });
}

// The request body as a JSON object, without the elements of its record array (if named);
// answers 400 and gives nothing when it is not a JSON object.
std::optional<json> objectBody(const Request& req, Response& res, const char* arrayName = nullptr) {
  if (nestedTooDeep(req.body)) {
    refuse(res, 400,
           "The request body is nested deeper than " + std::to_string(kMaxNesting) + " levels");
    return std::nullopt;
  }
  json body;
  try {
    body = parseRecords(
        req.body, arrayName ? std::vector<std::string>{arrayName} : std::vector<std::string>{},
        [](const std::string&, json&) {});
  } catch (const json::parse_error&) {
    refuse(res, 400, "The request body is not JSON");
    return std::nullopt;
  }
  if (!body.is_object()) {
    refuse(res, 400, "The request body must be a JSON object");
    return std::nullopt;
  }
  return body;
}

bool isArray(const json& value) {
  return value.is_array();
}

bool isBoolean(const json& value) {
  return value.is_boolean();
}

bool isString(const json& value) {
  return value.is_string();
}

bool isIdList(const json& value) {
  return value.is_array() && std::all_of(value.begin(), value.end(),
                                         [](const json& id) { return id.is_number_integer(); });
}

// Answers 400 and gives false when the body lacks the member or the member fails the test.
bool requireMember(const json& body, const char* key, bool (*test)(const json&),
                   const char* expected, Response& res) {
  const auto found = body.find(key);
  if (found == body.end()) {
    refuse(res, 400, std::string("Missing member '") + key + "'");
    return false;
  }
  if (!test(*found)) {
    refuse(res, 400, std::string("Member '") + key + "' must be " + expected);
    return false;
  }
  return true;
}

}  // namespace

int majorVersion(const std::vector<std::string>& apiVersions) {
  int highest = 0;
  for (const auto& entry : apiVersions) {
    const std::string suffix = "_api";
    if (entry.size() <= suffix.size() + 1 || entry[0] != 'v' ||
        entry.compare(entry.size() - suffix.size(), suffix.size(), suffix) != 0) {
      continue;
    }
    const std::string number = entry.substr(1, entry.size() - suffix.size() - 1);
    if (allDigits(number) && number.size() <= 6) {
      highest = std::max(highest, std::stoi(number));
    }
  }
  return highest > 0 ? highest : kDefaultMajor;
}

StandinServer::StandinServer(ServerOptions options, Store& store)
    : options(std::move(options)),
      store(store),
      sessions(this->options.fixedToken),
      major(majorVersion(this->options.apiVersions)),
      version(std::to_string(major) + ".0") {
  if (this->options.tlsCert.empty() != this->options.tlsKey.empty()) {
    throw std::runtime_error("A TLS certificate needs its key and a key its certificate");
  }
  if (this->options.tlsCert.empty() && !this->options.clientCA.empty()) {
    throw std::runtime_error("Client certificates need TLS: give a TLS certificate and key");
  }
  if (this->options.tlsCert.empty()) {
    http = std::make_unique<httplib::Server>();
  } else {
    const std::string& clientCA = this->options.clientCA;
    http = std::make_unique<httplib::SSLServer>(this->options.tlsCert.c_str(),
                                                this->options.tlsKey.c_str(),
                                                clientCA.empty() ? nullptr : clientCA.c_str());
    if (!http->is_valid()) {
      throw std::runtime_error("Cannot use the TLS certificate '" + this->options.tlsCert +
                               "' with the key '" + this->options.tlsKey + "'" +
                               (clientCA.empty() ? "" : " and the client CA '" + clientCA + "'"));
    }
  }
  // The library's default also sets SO_REUSEPORT, which lets a second server take the same port
  // and split the connections with the first. Only the quick reuse after a restart is wanted.
  http->set_socket_options([](socket_t socket) {
    int yes = 1;
    ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  // Answers leave at once. With Nagle's algorithm a TLS answer, written in more than one piece,
  // waits for the client's delayed acknowledgement: some 40 ms on every first answer. Accepted
  // connections take the setting from the listening socket.
  http->set_tcp_nodelay(true);
  // The library closes a connection after five requests; a client's whole run (a migrate sends a
  // target six) keeps the one it opened.
  http->set_keep_alive_max_count(1000);
  addRoutes();
}

StandinServer::~StandinServer() {
  stop();
}

void StandinServer::start() {
  if (options.port == 0) {
    boundPort = http->bind_to_any_port(options.bind);
  } else if (http->bind_to_port(options.bind, options.port)) {
    boundPort = options.port;
  } else {
    boundPort = -1;
  }
  if (boundPort < 0) {
    throw std::runtime_error("Cannot listen on " + options.bind + " port " +
                             std::to_string(options.port));
  }
  listener = std::thread([this] {
    http->listen_after_bind();
    listenerDone = true;
  });
  while (!http->is_running() && !listenerDone) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (!http->is_running()) {
    listener.join();
    throw std::runtime_error("Cannot serve on " + baseUrl());
  }
}

void StandinServer::stop() {
  if (listener.joinable()) {
    http->stop();
    listener.join();
  }
}

std::string StandinServer::baseUrl() const {
  const std::string scheme = options.tlsCert.empty() ? "http" : "https";
  const bool ipv6 = options.bind.find(':') != std::string::npos;
  const std::string host = ipv6 ? "[" + options.bind + "]" : options.bind;
  return scheme + "://" + host + ":" + std::to_string(boundPort) + "/";
}

void StandinServer::addRoutes() {
  auto plain = [this](Handler handler) {
    return [this, handler](const Request& req, Response& res) { (this->*handler)(req, res); };
  };
  auto versioned = [this](Handler handler) {
    return [this, handler](const Request& req, Response& res) {
      if (authorised(req, res)) {
        (this->*handler)(req, res);
      }
    };
  };
  // Answers are never compressed: on loopback it only costs time (brotli takes most of a
  // minute over the list of 100,000 probes). The library compresses whenever the request accepts
  // an encoding, so that header is dropped before routing. The request object is not const, only
  // the handler's view of it.
  //
  // A body over its limit is refused by its announced length, before it is read. A body without a
  // length (chunked, or up to the end of the connection) would be read whole by the library, so
  // it is refused too. The library's own limit is the last guard.
  http->set_payload_max_length(kBodyLimit);
  http->set_pre_routing_handler([](const Request& req, Response& res) {
    const_cast<Request&>(req).headers.erase("Accept-Encoding");
    const bool sendsBody = req.method == "POST" || req.method == "PUT" || req.method == "PATCH";
    const std::uint64_t limit = req.path == "/api/token/" ? kLoginBodyLimit : kBodyLimit;
    if (req.has_header("Transfer-Encoding") || (sendsBody && !req.has_header("Content-Length"))) {
      refuseUnread(res, 411, "A request body needs a Content-Length");
    } else if (req.get_header_value<std::uint64_t>("Content-Length") > limit) {
      refuseUnread(res, 413, "The request body is larger than " + std::to_string(limit) + " bytes");
    } else {
      return httplib::Server::HandlerResponse::Unhandled;
    }
    return httplib::Server::HandlerResponse::Handled;
  });
  http->Post("/api/token/", plain(&StandinServer::logIn));
  http->Delete("/api/token/", plain(&StandinServer::logOut));
  http->Get(R"(/api/([^/]+)/probe/)", versioned(&StandinServer::listProbes));
  http->Get(R"(/api/([^/]+)/alert/template/)", versioned(&StandinServer::listTemplates));
  http->Post(R"(/api/([^/]+)/probe/custom/export/)", versioned(&StandinServer::exportProbes));
  http->Post(R"(/api/([^/]+)/alert/custom/export/)", versioned(&StandinServer::exportTemplates));
  http->Post(R"(/api/([^/]+)/probe/custom/import/)", versioned(&StandinServer::importProbes));
  http->Post(R"(/api/([^/]+)/alert/custom/import/)", versioned(&StandinServer::importTemplates));

  // Failures that no handler answered (unknown path or method, a request the library refused)
  // still get a JSON body. Every answer of a handler carries its content type.
  const httplib::Server::HandlerWithResponse errorHandler = [](const Request& req, Response& res) {
    if (res.has_header("Content-Type")) {
      return httplib::Server::HandlerResponse::Unhandled;
    }
    const std::string request = (req.method + " " + req.path).substr(0, 200);
    const std::string message = res.status == 404
                                    ? "No such endpoint: " + request
                                    : "Cannot serve the request " + request + " (HTTP status " +
                                          std::to_string(res.status) + ")";
    refuse(res, res.status, message);
    return httplib::Server::HandlerResponse::Handled;
  };
  http->set_error_handler(errorHandler);
  http->set_exception_handler([](const Request&, Response& res, std::exception_ptr failure) {
    std::string what = "unknown error";
    try {
      std::rethrow_exception(failure);
    } catch (const std::exception& e) {
      what = e.what();
    } catch (...) {
    }
    refuse(res, 500, "Internal error: " + what);
  });
  if (options.logRequests) {
    http->set_logger([](const Request& req, const Response& res) {
      std::fprintf(stderr, "korv-standin: %s %s %d\n", req.method.c_str(), req.path.c_str(),
                   res.status);
    });
  }
}

bool StandinServer::authorised(const Request& req, Response& res) {
  if (!sessions.isLive(trimmed(req.get_header_value("X-Auth-Token")))) {
    refuse(res, 401, "Authentication required: log in and send the token in X-Auth-Token");
    return false;
  }
  const std::string requested = req.matches[1].str();
  const auto& supported = options.apiVersions;
  if (std::find(supported.begin(), supported.end(), requested + "_api") == supported.end()) {
    refuse(res, 404, "API version '" + requested + "' is not supported by this server");
    return false;
  }
  return true;
}

bool StandinServer::versionAccepted(const json& body, Response& res) const {
  if (!requireMember(body, "version", isString, "a version string", res)) {
    return false;
  }
  const std::string text = body.at("version").get<std::string>();
  const std::string head = text.substr(0, text.find('.'));
  if (!allDigits(head) || head.size() > 6) {
    refuse(res, 400, "Member 'version' is not a version number: '" + text + "'");
    return false;
  }
  if (std::stoi(head) != major) {
    refuse(res, 400,
           "The data comes from server version " + text + " and this server is version " + version +
               ": only data of the same major version can be imported");
    return false;
  }
  return true;
}

void StandinServer::logIn(const Request& req, Response& res) {
  const auto body = objectBody(req, res);
  if (!body || !requireMember(*body, "username", isString, "a string", res) ||
      !requireMember(*body, "password", isString, "a string", res)) {
    return;
  }
  const auto user = options.users.find(body->at("username").get<std::string>());
  if (user == options.users.end() || user->second != body->at("password").get<std::string>()) {
    refuse(res, 401, "Invalid user name or password");
    return;
  }
  res.set_header("X-Subject-Token", sessions.open());
  answer(res, 201, json{{"supported_api_versions", options.apiVersions}});
}

void StandinServer::logOut(const Request& req, Response& res) {
  if (!sessions.close(trimmed(req.get_header_value("X-Auth-Token")))) {
    refuse(res, 401, "The token is not valid or was released already");
    return;
  }
  res.status = 204;
}

void StandinServer::listProbes(const Request&, Response& res) {
  answerText(res, store.probeList());
}

void StandinServer::listTemplates(const Request&, Response& res) {
  answerText(res, store.templateList());
}

void StandinServer::answerExport(Response& res, const char* member, std::string records) const {
  res.status = 200;
  res.set_content(
      "{\"" + std::string(member) + "\":" + records + ",\"version\":" + json(version).dump() + "}",
      "application/json");
}

void StandinServer::exportProbes(const Request& req, Response& res) {
  const auto body = objectBody(req, res);
  if (!body || !requireMember(*body, "probes", isIdList, "an array of probe ids", res)) {
    return;
  }
  try {
    answerExport(res, "probes", store.exportProbes(body->at("probes")));
  } catch (const UnknownRecordError& e) {
    refuse(res, 400, e.what());
  }
}

void StandinServer::exportTemplates(const Request& req, Response& res) {
  const auto body = objectBody(req, res);
  if (!body ||
      !requireMember(*body, "alert_templates", isIdList, "an array of alert template ids", res)) {
    return;
  }
  try {
    answerExport(res, "alert_templates", store.exportTemplates(body->at("alert_templates")));
  } catch (const UnknownRecordError& e) {
    refuse(res, 400, e.what());
  }
}

void StandinServer::importProbes(const Request& req, Response& res) {
  serveImport(req, res, "probes", "an array of probes");
}

void StandinServer::importTemplates(const Request& req, Response& res) {
  serveImport(req, res, "alert_templates", "an array of alert templates");
}

void StandinServer::serveImport(const Request& req, Response& res, const char* arrayName,
                                const char* expected) {
  // The items are read once the other members pass, while they are imported.
  const auto members = objectBody(req, res, arrayName);
  const bool templates = std::string(arrayName) == "alert_templates";
  if (!members || !requireMember(*members, arrayName, isArray, expected, res) ||
      !requireMember(*members, "skip_overwrite", isBoolean, "a boolean", res) ||
      (templates &&
       !requireMember(*members, "skip_overwrite_probe", isBoolean, "a boolean", res)) ||
      !versionAccepted(*members, res)) {
    return;
  }
  const auto items = [&](const std::function<void(json&)>& take) {
    parseRecords(req.body, {arrayName}, [&](const std::string&, json& item) { take(item); });
  };
  const bool skipOverwrite = members->at("skip_overwrite").get<bool>();
  try {
    const std::string results =
        templates ? store.importTemplates(items, skipOverwrite,
                                          members->at("skip_overwrite_probe").get<bool>())
                  : store.importProbes(items, skipOverwrite);
    res.status = 200;
    res.set_content("{\"result\":" + results + "}", "application/json");
  } catch (const StoreError& e) {
    refuse(res, 500, e.what());
  }
}

}  // namespace korv::standin
