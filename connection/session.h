// The REST session: log in for a token, give the token back at the end of the run.
#pragma once

#include <string>
#include <vector>

#include "connection/transport_settings.h"

namespace korv::cli::api {

// Everything that makes up one server connection: its settings and its session. The run's
// connection lives in the globals of settings.h and transport_settings.h; a run that talks to two
// servers keeps a Connection for each and makes it current before every exchange.
struct Connection {
  std::string url, user, password, token;
  std::vector<std::string> supportedApiVersions;
  bool secureConnection = true;
  Transport transport;
  std::string serverEntry;
};

// The current connection.
Connection current();
// Makes the connection current.
void activate(const Connection& connection);
// Makes a connection with no settings and no session current.
void resetConnectionSettings();

// Logs in at "api/token/" with the user and password; fills token and supportedApiVersions.
// Every failure is a CLI::ValidationError with a message for the user; missing credentials name
// the server's configuration entry, when the settings came from one.
void init();

// Releases the token, if there is one. Never raises: failures only reach the log.
void finish();

}  // namespace korv::cli::api
