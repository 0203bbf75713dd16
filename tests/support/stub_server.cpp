#include "tests/support/stub_server.h"

#include <httplib.h>

#include <set>
#include <stdexcept>

#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace korv::test {

namespace {

bool isConnectionDetail(const std::string& name) {
  return name == "LOCAL_ADDR" || name == "LOCAL_PORT" || name == "REMOTE_ADDR" ||
         name == "REMOTE_PORT";
}

}  // namespace

std::string ReceivedRequest::Header(const std::string& name) const {
  for (const auto& [key, value] : headers) {
    if (strcasecmp(key.c_str(), name.c_str()) == 0) {
      return value;
    }
  }
  return "";
}

size_t ReceivedRequest::HeaderCount(const std::string& name) const {
  size_t count = 0;
  for (const auto& entry : headers) {
    if (strcasecmp(entry.first.c_str(), name.c_str()) == 0) {
      ++count;
    }
  }
  return count;
}

const Certificate& TestCertificate() {
  static TempDir dir;
  static const Certificate certificate = [] {
    Certificate made{dir / "cert.pem", dir / "key.pem"};
    ProcessOptions options;
    options.args = {"req",
                    "-x509",
                    "-newkey",
                    "rsa:2048",
                    "-nodes",
                    "-days",
                    "2",
                    "-subj",
                    "/CN=127.0.0.1",
                    "-addext",
                    "subjectAltName=IP:127.0.0.1",
                    "-keyout",
                    made.keyPath,
                    "-out",
                    made.certPath};
    options.environment = {"PATH=/usr/bin:/bin"};
    const ProcessResult result = Run("/usr/bin/openssl", options);
    if (result.status != 0) {
      throw std::runtime_error("openssl failed: " + result.err);
    }
    return made;
  }();
  return certificate;
}

StubServer::StubServer(Scheme scheme) : scheme(scheme) {
  if (scheme == Scheme::Https) {
    const Certificate& certificate = TestCertificate();
    server = std::make_unique<httplib::SSLServer>(certificate.certPath.c_str(),
                                                  certificate.keyPath.c_str());
  } else {
    server = std::make_unique<httplib::Server>();
  }
  const auto handler = [this](const httplib::Request& request, httplib::Response& response) {
    ReceivedRequest received{request.method, request.path, request.body, {}, ""};
    for (const auto& [name, value] : request.headers) {
      if (!isConnectionDetail(name)) {
        received.headers.emplace(name, value);
      }
    }
    received.remotePort = request.get_header_value("REMOTE_PORT");

    Reply reply{404, "{\"errormsg\":\"Nothing scripted for this request.\"}"};
    {
      std::unique_lock<std::mutex> lock(mutex);
      requests.push_back(std::move(received));
      const auto found = replies.find({request.method, request.path});
      if (found != replies.end()) {
        reply = found->second;
      }
      if (reply.delay.count() > 0) {
        stopping.wait_for(lock, reply.delay, [this] { return stopped; });
      }
    }
    response.status = reply.status;
    for (const auto& [name, value] : reply.headers) {
      response.set_header(name.c_str(), value);
    }
    if (!reply.body.empty() || !reply.contentType.empty()) {
      response.set_content(reply.body, reply.contentType.c_str());
    }
  };
  server->Get(".*", handler);
  server->Post(".*", handler);
  server->Put(".*", handler);
  server->Patch(".*", handler);
  server->Delete(".*", handler);
  server->Options(".*", handler);
  // A client that keeps its connection open (in-process tests do: the connection cache lives as
  // long as the process) holds a worker until the keep-alive time ends, and stopping waits for it.
  server->set_keep_alive_timeout(1);
  server->set_tcp_nodelay(true);
  port = server->bind_to_any_port("127.0.0.1");
  if (port <= 0) {
    throw std::runtime_error("the stub server cannot bind");
  }
  thread = std::thread([this] { server->listen_after_bind(); });
  while (!server->is_running()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

StubServer::~StubServer() {
  {
    std::lock_guard<std::mutex> lock(mutex);
    stopped = true;
  }
  stopping.notify_all();
  server->stop();
  thread.join();
}

std::string StubServer::BaseUrl() const {
  return std::string(scheme == Scheme::Https ? "https" : "http") +
         "://127.0.0.1:" + std::to_string(port) + "/";
}

void StubServer::On(const std::string& method, const std::string& path, Reply reply) {
  std::lock_guard<std::mutex> lock(mutex);
  replies[{method, path}] = std::move(reply);
}

void StubServer::ServeSession(const std::string& token, const std::vector<std::string>& versions) {
  std::string list;
  for (const auto& version : versions) {
    list += (list.empty() ? "\"" : ",\"") + version + "\"";
  }
  On("POST", "/api/token/",
     Reply{201, "{\"supported_api_versions\":[" + list + "]}", {{"X-Subject-Token", token}}});
  Reply released(204, "");
  released.contentType = "";
  On("DELETE", "/api/token/", released);
}

void StubServer::CloseConnectionsAfterEachAnswer() {
  server->set_keep_alive_max_count(1);
}

std::vector<ReceivedRequest> StubServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex);
  return requests;
}

std::vector<ReceivedRequest> StubServer::RequestsTo(const std::string& method,
                                                    const std::string& path) const {
  std::vector<ReceivedRequest> matching;
  for (const auto& request : Requests()) {
    if (request.method == method && request.path == path) {
      matching.push_back(request);
    }
  }
  return matching;
}

size_t StubServer::ConnectionCount() const {
  std::set<std::string> ports;
  for (const auto& request : Requests()) {
    ports.insert(request.remotePort);
  }
  return ports.size();
}

}  // namespace korv::test
