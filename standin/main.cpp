// korv-standin: a small stand-in KORV Server, for trying korv-cli, rehearsing a migration of
// custom probes and alert templates between servers, and writing scripts, without a real server.
//
// The first line on standard output is the base URL; the server then serves until SIGINT or
// SIGTERM and exits 0. Diagnostics go to standard error.
#include <malloc.h>
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "server.h"
#include "store.h"

namespace {

// "NAME:PASSWORD", split at the first colon; the password may hold colons.
std::string userProblem(const std::string& value) {
  const auto colon = value.find(':');
  if (colon == std::string::npos || colon == 0) {
    return "expected NAME:PASSWORD, got '" + value + "'";
  }
  return {};
}

std::string tokenProblem(const std::string& value) {
  if (value.empty() || value.find_first_of(" \t\r\n") != std::string::npos) {
    return "the token must be non-empty and without white space";
  }
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"A stand-in KORV Server: serves the REST API of korv-cli from a JSON data file."};
  korv::standin::ServerOptions options;
  options.logRequests = true;
  std::string dataFile;
  std::vector<std::string> users;
  bool withCustomSamples = false;

  app.add_option("--port", options.port, "Port to listen on; 0 takes a free one")
      ->required()
      ->check(CLI::Range(0, 65535));
  app.add_option("--data", dataFile, "JSON data file; a missing one is created with sample records")
      ->required();
  app.add_option("--user", users, "NAME:PASSWORD of a user who may log in (repeatable)")
      ->required()
      ->check(CLI::Validator(userProblem, "NAME:PASSWORD"));
  app.add_option("--bind", options.bind, "Address to listen on")->capture_default_str();
  auto* cert = app.add_option("--tls-cert", options.tlsCert, "TLS certificate (PEM): serve HTTPS")
                   ->check(CLI::ExistingFile);
  auto* key = app.add_option("--tls-key", options.tlsKey, "TLS private key (PEM)")
                  ->check(CLI::ExistingFile);
  cert->needs(key);
  key->needs(cert);
  app.add_option("--client-ca", options.clientCA,
                 "CA (PEM) that must have signed every client's certificate (mutual TLS)")
      ->check(CLI::ExistingFile)
      ->needs(cert);
  app.add_option("--api-versions", options.apiVersions,
                 "Comma-separated API versions that logins report")
      ->delimiter(',')
      ->capture_default_str();
  app.add_flag("--with-custom-samples", withCustomSamples,
               "When creating the data file, add custom probes and alert templates too");
  app.add_option("--fixed-token", options.fixedToken,
                 "Hand out this token at every login and accept it at any time")
      ->check(CLI::Validator(tokenProblem, "TOKEN"));
  CLI11_PARSE(app, argc, argv);

  for (const auto& user : users) {
    const auto colon = user.find(':');
    options.users[user.substr(0, colon)] = user.substr(colon + 1);
  }

  // The server's memory is its data plus the requests in hand. By default the allocator gives
  // each worker thread a heap of its own, and the records an import replaces are freed into the
  // heap of whichever thread made them, to stay there: after a few large imports every worker
  // holds a copy's worth of free memory. It also moves large buffers into the heaps once some
  // were freed. One heap for all threads, and large buffers (request bodies, answers) mapped
  // apart and unmapped when freed, keep the memory flat however many imports come.
  mallopt(M_MMAP_THRESHOLD, 256 * 1024);
  mallopt(M_ARENA_MAX, 1);

  // Block the stop signals before any thread starts, so that every thread inherits the mask and
  // only the sigwait below receives them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  try {
    korv::standin::Store store(dataFile, withCustomSamples);
    korv::standin::StandinServer server(options, store);
    server.start();
    std::cout << server.baseUrl() << std::endl;

    int received = 0;
    sigwait(&stopSignals, &received);
    std::fprintf(stderr, "korv-standin: stopping on signal %d\n", received);
    server.stop();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "korv-standin: %s\n", e.what());
    return 1;
  }
  return 0;
}
