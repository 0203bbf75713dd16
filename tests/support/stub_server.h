// A scripted stand-in for a KORV Server in tests: a loopback HTTP server that speaks HTTP by hand.
// It answers each request with the reply scripted for its method and path, well formed or as raw
// bytes (for what a well-behaved server never does), and records every request as received.
#pragma once

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace korv::test {

struct Reply {
  Reply() = default;
  Reply(int status, std::string body, std::vector<std::pair<std::string, std::string>> headers = {})
      : status(status), body(std::move(body)), headers(std::move(headers)) {}

  int status = 200;
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string contentType = "application/json";  // none when empty
  // The answer waits this long first (cut short when the server stops).
  std::chrono::milliseconds delay{0};
  // When set, these bytes are sent instead of a response made from the members above.
  std::optional<std::string> raw;
  bool close = false;  // the connection ends after the answer
};

// A reply of exactly these bytes, then the end of the connection when close is set.
Reply Raw(std::string bytes, bool close = false);

struct ReceivedRequest {
  std::string method;
  std::string path;
  std::string body;
  std::string text;  // as received: request line, header lines, empty line, body
  std::multimap<std::string, std::string> headers;
  size_t connection = 0;  // the number of the connection it came on

  // The first value of the header (names compare case-insensitively), or "" when absent.
  std::string Header(const std::string& name) const;
  size_t HeaderCount(const std::string& name) const;
};

class StubServer {
 public:
  StubServer();
  ~StubServer();
  StubServer(const StubServer&) = delete;
  StubServer& operator=(const StubServer&) = delete;

  // "http://127.0.0.1:<port>/".
  std::string BaseUrl() const;
  int Port() const { return port; }

  // Every request with this method and path gets the reply. Unscripted requests get 404.
  void On(const std::string& method, const std::string& path, Reply reply);
  // A login answering 201 with the token and the versions, and a release answering 204.
  void ServeSession(const std::string& token = "tok-123",
                    const std::vector<std::string>& versions = {"v10_api", "v11_api"});

  std::vector<ReceivedRequest> Requests() const;
  std::vector<ReceivedRequest> RequestsTo(const std::string& method, const std::string& path) const;
  // How many client connections were accepted.
  size_t ConnectionCount() const { return connections.load(); }

 private:
  void Accept();
  void Serve(int fd, size_t connection);

  int listener = -1;
  int port = 0;
  std::atomic<bool> stopped{false};
  std::atomic<size_t> connections{0};
  std::thread acceptor;
  mutable std::mutex mutex;
  std::vector<std::thread> workers;
  std::map<std::pair<std::string, std::string>, Reply> replies;
  std::vector<ReceivedRequest> requests;
};

}  // namespace korv::test
