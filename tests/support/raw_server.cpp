#include "tests/support/raw_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
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

bool sendAll(int fd, const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) {
      return false;
    }
    sent += static_cast<size_t>(n);
  }
  return true;
}

size_t contentLength(const std::string& head) {
  const char* names[] = {"\r\nContent-Length:", "\r\ncontent-length:"};
  for (const char* name : names) {
    const size_t at = head.find(name);
    if (at != std::string::npos) {
      return std::stoul(head.substr(at + std::strlen(name)));
    }
  }
  return 0;
}

}  // namespace

std::string HttpResponse(int status, const std::string& body,
                         const std::vector<std::string>& headerLines) {
  std::string text = "HTTP/1.1 " + std::to_string(status) + " Scripted\r\n";
  for (const auto& line : headerLines) {
    text += line + "\r\n";
  }
  if (status != 204) {
    text += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  }
  return text + "\r\n" + body;
}

RawServer::RawServer() {
  listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::listen(listener, 16) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("the raw server cannot listen");
  }
  port = ntohs(address.sin_port);
  acceptor = std::thread([this] { Accept(); });
}

RawServer::~RawServer() {
  stopped = true;
  acceptor.join();
  for (auto& worker : workers) {
    worker.join();
  }
  ::close(listener);
}

std::string RawServer::BaseUrl() const {
  return "http://127.0.0.1:" + std::to_string(port) + "/";
}

void RawServer::On(const std::string& method, const std::string& path, RawAnswer answer) {
  std::lock_guard<std::mutex> lock(mutex);
  answers[{method, path}] = std::move(answer);
}

void RawServer::ServeSession() {
  On("POST", "/api/token/",
     {HttpResponse(201, R"({"supported_api_versions":["v10_api","v11_api"]})",
                   {"X-Subject-Token: tok-123"})});
  On("DELETE", "/api/token/", {HttpResponse(204, "")});
}

std::vector<std::string> RawServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex);
  return requests;
}

void RawServer::Accept() {
  while (waitReadable(listener, stopped)) {
    const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      continue;
    }
    ++connections;
    const int yes = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    std::lock_guard<std::mutex> lock(mutex);
    workers.emplace_back([this, fd] {
      Serve(fd);
      ::close(fd);
    });
  }
}

void RawServer::Serve(int fd) {
  std::string buffer;
  // Reads more of the connection into the buffer; false when it ends or the server stops.
  const auto readMore = [&] {
    char chunk[65536];
    if (!waitReadable(fd, stopped)) {
      return false;
    }
    const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) {
      return false;
    }
    buffer.append(chunk, static_cast<size_t>(n));
    return true;
  };
  while (true) {
    // One request: the head up to the empty line, then a body of Content-Length bytes.
    size_t headEnd;
    while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
      if (!readMore()) {
        return;
      }
    }
    const size_t total = headEnd + 4 + contentLength(buffer.substr(0, headEnd + 2));
    while (buffer.size() < total) {
      if (!readMore()) {
        return;
      }
    }
    const std::string request = buffer.substr(0, total);
    buffer.erase(0, total);

    const size_t methodEnd = request.find(' ');
    const size_t pathEnd = request.find(' ', methodEnd + 1);
    const std::string method = request.substr(0, methodEnd);
    const std::string path = request.substr(methodEnd + 1, pathEnd - methodEnd - 1);
    RawAnswer answer{HttpResponse(404, R"({"errormsg":"Nothing scripted."})")};
    {
      std::lock_guard<std::mutex> lock(mutex);
      requests.push_back(request);
      const auto found = answers.find({method, path});
      if (found != answers.end()) {
        answer = found->second;
      }
    }
    const auto until = std::chrono::steady_clock::now() + answer.stall;
    while (!stopped.load() && std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    bool open = sendAll(fd, answer.bytes);
    const std::string blanks(1 << 20, ' ');
    while (answer.endless && open && !stopped.load()) {
      open = sendAll(fd, blanks);
    }
    if (answer.endless || answer.close || stopped.load()) {
      return;
    }
  }
}

}  // namespace korv::test
