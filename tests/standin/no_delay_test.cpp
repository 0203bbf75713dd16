// Every server the tests and the demo talk to sends its answers at once (TCP_NODELAY): with
// Nagle's algorithm an answer written in more than one piece, as over TLS, waits for the client's
// delayed acknowledgement.
#include <gtest/gtest.h>
#include <httplib.h>

#include <filesystem>

#include "server.h"
#include "store.h"
#include "tests/support/raw_server.h"
#include "tests/support/stub_server.h"
#include "tests/support/temp_dir.h"

namespace korv::standin {
namespace {

// Sends one request over a connection kept open, then tells whether every connection that the
// server of this process accepted on the port has TCP_NODELAY set.
bool AnswersAtOnce(int port) {
  httplib::Client client("127.0.0.1", port);
  client.set_keep_alive(true);
  client.Get("/");
  int accepted = 0, noDelay = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    const int fd = std::stoi(entry.path().filename());
    sockaddr_in local{};
    socklen_t size = sizeof local;
    int on = 0;
    socklen_t onSize = sizeof on;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) == 0 &&
        local.sin_family == AF_INET && local.sin_port == htons(static_cast<uint16_t>(port)) &&
        ::getpeername(fd, reinterpret_cast<sockaddr*>(&local), &size) == 0) {
      ++accepted;
      noDelay += ::getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, &onSize) == 0 && on != 0;
    }
  }
  return accepted > 0 && noDelay == accepted;
}

TEST(EveryServer, SendsItsAnswersWithoutWaitingForAnAcknowledgement) {
  const test::TempDir dir;
  Store store(dir / "data.json", false);
  StandinServer standin(ServerOptions(), store);
  standin.start();
  const test::StubServer stub;
  const test::RawServer raw;
  for (const int port : {standin.port(), stub.Port(), raw.Port()}) {
    EXPECT_TRUE(AnswersAtOnce(port)) << port;
  }
}

}  // namespace
}  // namespace korv::standin
