// An in-process stand-in for a KORV Server in tests: it answers scripted replies per method and
// path, over HTTP or HTTPS on a free loopback port, and records every request it receives.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace httplib {
class Server;
}

namespace korv::test {

struct Reply {
  Reply() = default;
  Reply(int status, std::string body, std::vector<std::pair<std::string, std::string>> headers = {})
      : status(status), body(std::move(body)), headers(std::move(headers)) {}

  int status = 200;
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string contentType = "application/json";
  // The answer waits this long first (cut short when the server stops).
  std::chrono::milliseconds delay{0};
};

struct ReceivedRequest {
  std::string method;
  std::string path;
  std::string body;
  std::multimap<std::string, std::string> headers;  // as the server parsed them
  std::string remotePort;                           // tells connections apart

  // The first value of the header (names compare case-insensitively), or "" when absent.
  std::string Header(const std::string& name) const;
  size_t HeaderCount(const std::string& name) const;
};

class StubServer {
 public:
  enum class Scheme { Http, Https };

  explicit StubServer(Scheme scheme = Scheme::Http);
  ~StubServer();
  StubServer(const StubServer&) = delete;
  StubServer& operator=(const StubServer&) = delete;

  // "http://127.0.0.1:<port>/" (or https).
  std::string BaseUrl() const;
  int Port() const { return port; }

  // Every request with this method and path gets the reply. Unscripted requests get 404.
  void On(const std::string& method, const std::string& path, Reply reply);
  // A login answering 201 with the token and the versions, and a release answering 204.
  void ServeSession(const std::string& token = "tok-123",
                    const std::vector<std::string>& versions = {"v10_api", "v11_api"});

  // The server closes every connection after one answer.
  void CloseConnectionsAfterEachAnswer();

  std::vector<ReceivedRequest> Requests() const;
  std::vector<ReceivedRequest> RequestsTo(const std::string& method, const std::string& path) const;
  // How many distinct client connections sent requests.
  size_t ConnectionCount() const;

 private:
  std::unique_ptr<httplib::Server> server;
  std::thread thread;
  int port = 0;
  Scheme scheme;

  mutable std::mutex mutex;
  std::condition_variable stopping;
  bool stopped = false;
  std::map<std::pair<std::string, std::string>, Reply> replies;
  std::vector<ReceivedRequest> requests;
};

// A self-signed certificate for 127.0.0.1, made once per test process.
struct Certificate {
  std::string certPath;
  std::string keyPath;
};
const Certificate& TestCertificate();

}  // namespace korv::test
