#include "tests/support/stub_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

namespace korv::test {

namespace {

// Waits until the descriptor is readable; false when the server stops first.
bool waitReadable(int fd, const std::atomic<bool>& stopped) {
  while (!stopped.load()) {
    pollfd entry{fd, POLLIN, 0};
    if (::poll(&entry, 1, 50) > 0) {
      return true;
    }
  }
  return false;
}

void sendAll(int fd, const std::string& bytes) {
  for (size_t sent = 0; sent < bytes.size();) {
    const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) {
      return;
    }
    sent += static_cast<size_t>(n);
  }
}

// The request line and header lines of a head that ends with CR LF.
ReceivedRequest parseHead(const std::string& head) {
  ReceivedRequest request;
  size_t at = head.find("\r\n");
  const std::string line = head.substr(0, at);
  request.method = line.substr(0, line.find(' '));
  request.path =
      line.substr(request.method.size() + 1, line.rfind(' ') - request.method.size() - 1);
  for (size_t next; (next = head.find("\r\n", at + 2)) != std::string::npos; at = next) {
    const std::string header = head.substr(at + 2, next - at - 2);
    const size_t colon = header.find(':');
    const size_t value = header.find_first_not_of(' ', colon + 1);
    request.headers.emplace(header.substr(0, colon),
                            value == std::string::npos ? "" : header.substr(value));
  }
  return request;
}

std::string response(const Reply& reply, bool close) {
  if (reply.raw) {
    return *reply.raw;
  }
  std::string text = "HTTP/1.1 " + std::to_string(reply.status) + " Scripted\r\n";
  for (const auto& [name, value] : reply.headers) {
    text += name + ": " + value + "\r\n";
  }
  if (reply.status != 204) {
    if (!reply.contentType.empty()) {
      text += "Content-Type: " + reply.contentType + "\r\n";
    }
    text += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
  }
  return text + (close ? "Connection: close\r\n\r\n" : "\r\n") + reply.body;
}

}  // namespace

Reply Raw(std::string bytes, bool close) {
  Reply reply;
  reply.raw = std::move(bytes);
  reply.close = close;
  return reply;
}

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
    count += strcasecmp(entry.first.c_str(), name.c_str()) == 0 ? 1 : 0;
  }
  return count;
}

StubServer::StubServer() {
  listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::listen(listener, 16) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("the stub server cannot listen");
  }
  port = ntohs(address.sin_port);
  acceptor = std::thread([this] { Accept(); });
}

StubServer::~StubServer() {
  stopped = true;
  acceptor.join();
  for (auto& worker : workers) {
    worker.join();
  }
  ::close(listener);
}

std::string StubServer::BaseUrl() const {
  return "http://127.0.0.1:" + std::to_string(port) + "/";
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
  On("DELETE", "/api/token/", Reply{204, ""});
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

void StubServer::Accept() {
  while (waitReadable(listener, stopped)) {
    const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
      std::lock_guard<std::mutex> lock(mutex);
      workers.emplace_back([this, fd, number = ++connections] {
        Serve(fd, number);
        ::close(fd);
      });
    }
  }
}

void StubServer::Serve(int fd, size_t connection) {
  std::string buffer;
  // Reads more of the connection into the buffer; false when it ends or the server stops.
  const auto readMore = [&] {
    char chunk[65536];
    const ssize_t n = waitReadable(fd, stopped) ? ::recv(fd, chunk, sizeof chunk, 0) : 0;
    buffer.append(chunk, static_cast<size_t>(std::max<ssize_t>(n, 0)));
    return n > 0;
  };
  while (true) {
    // One request: the head up to the empty line, then a body of Content-Length bytes.
    size_t headEnd;
    while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
      if (!readMore()) {
        return;
      }
    }
    ReceivedRequest request = parseHead(buffer.substr(0, headEnd + 2));
    const std::string length = request.Header("Content-Length");
    const size_t total = headEnd + 4 + (length.empty() ? 0 : std::stoul(length));
    while (buffer.size() < total) {
      if (!readMore()) {
        return;
      }
    }
    request.text = buffer.substr(0, total);
    request.body = buffer.substr(headEnd + 4, total - headEnd - 4);
    request.connection = connection;
    buffer.erase(0, total);

    Reply reply{404, R"({"errormsg":"Nothing scripted for this request."})"};
    {
      std::lock_guard<std::mutex> lock(mutex);
      const auto found = replies.find({request.method, request.path});
      if (found != replies.end()) {
        reply = found->second;
      }
      requests.push_back(std::move(request));
    }
    const auto until = std::chrono::steady_clock::now() + reply.delay;
    while (!stopped.load() && std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const bool close = reply.close;
    sendAll(fd, response(reply, close));
    if (close || stopped.load()) {
      return;
    }
  }
}

}  // namespace korv::test
