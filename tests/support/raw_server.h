// A loopback server that speaks HTTP by hand, for what a well-behaved server never does: it reads
// each request as raw bytes and answers with exactly the bytes scripted for it (or none), so tests
// can see the request as sent and send broken answers.
#pragma once

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace korv::test {

struct RawAnswer {
  std::string bytes;                   // sent as they are
  bool close = false;                  // close the connection after sending
  std::chrono::milliseconds stall{0};  // wait this long (or until stopped) before sending
  bool endless = false;                // then send blanks until the client goes away
};

class RawServer {
 public:
  RawServer();
  ~RawServer();
  RawServer(const RawServer&) = delete;
  RawServer& operator=(const RawServer&) = delete;

  std::string BaseUrl() const;
  int Port() const { return port; }

  // Answers every request with this method and path. Unscripted requests get a 404.
  void On(const std::string& method, const std::string& path, RawAnswer answer);
  // A login (201, token "tok-123", v10 and v11) and a release (204), well formed.
  void ServeSession();

  // Every request as received: request line, header lines and body.
  std::vector<std::string> Requests() const;
  size_t Connections() const { return connections.load(); }

 private:
  void Accept();
  void Serve(int fd);

  int listener = -1;
  int port = 0;
  std::atomic<bool> stopped{false};
  std::atomic<size_t> connections{0};
  std::thread acceptor;
  mutable std::mutex mutex;
  std::vector<std::thread> workers;
  std::map<std::pair<std::string, std::string>, RawAnswer> answers;
  std::vector<std::string> requests;
};

// A complete response with a Content-Length that matches the body.
std::string HttpResponse(int status, const std::string& body,
                         const std::vector<std::string>& headerLines = {});

}  // namespace korv::test
