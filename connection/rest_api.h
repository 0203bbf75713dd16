// The versioned, authenticated connection through which the subcommands talk to the server.
#pragma once

#include <memory>
#include <string>

#include "web/web_connection.h"

namespace korv::cli::api {

// A connection to "<url>api/<version><path>" that sends the session token with its request.
// Each object serves one request.
class RESTAPIConn : public web::WebConnection {
 public:
  explicit RESTAPIConn(const std::string& version);

  // path begins with "/"; the token header is added here, not by the caller.
  bool Perform(const std::string& path, const std::string& method,
               const std::string& payload) override;
  bool Perform(const std::string& path, const std::string& method,
               const web::BodySource& body) override;

 private:
  std::string version;
};

}  // namespace korv::cli::api

namespace korv::web {

class API {
 public:
  // Logs in (on every call) and returns a connection for the API version. A server that does not
  // offer it raises an IncompatibleServerError naming the server and the versions it offers.
  static std::shared_ptr<WebConnection> Get(const std::string& version);
};

}  // namespace korv::web
