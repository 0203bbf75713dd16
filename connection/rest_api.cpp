#include "connection/rest_api.h"

#include <algorithm>

#include "common/error.h"
#include "common/logger.h"
#include "common/string_utils.h"
#include "connection/session.h"
#include "connection/settings.h"
#include "connection/transport_settings.h"
#include "records/compact_json.h"

namespace korv::cli::api {

RESTAPIConn::RESTAPIConn(const std::string& version) : version(version) {}

bool RESTAPIConn::Perform(const std::string& path, const std::string& method,
                          const std::string& payload) {
  LOG_DEBUG << string::format("Using the REST API Conn (version: %s)..", version);
  AddHeader("X-Auth-Token", token);
  configure(*this);
  LOG_DEBUG << string::format("REST API: '%s' method: '%s' payload: '%s'", path, method, payload);
  return WebConnection::Perform(url + "api/" + version + path, method, payload);
}

bool RESTAPIConn::Perform(const std::string& path, const std::string& method,
                          const web::BodySource& body) {
  if (logger::isEnabled(logger::LogLevel::DEBUG)) {
    // The debug log shows the payload: written out whole, it is sent as any other.
    std::string payload;
    body.restart();
    while (body.next(payload)) {
    }
    return Perform(path, method, payload);
  }
  AddHeader("X-Auth-Token", token);
  configure(*this);
  return WebConnection::Perform(url + "api/" + version + path, method, body);
}

}  // namespace korv::cli::api

namespace korv::web {

std::shared_ptr<WebConnection> API::Get(const std::string& version) {
  cli::api::init();
  const std::string key = version + "_api";
  const auto& versions = cli::api::supportedApiVersions;
  if (std::find(versions.begin(), versions.end(), key) != versions.end()) {
    return std::make_shared<cli::api::RESTAPIConn>(version);
  }
  LOG_WARNING << string::format("Connected KORV doesn't support the API version '%s'.", version);
  // The versions are the server's text and the URL the user's: their control characters are
  // escaped, so that each stays on its line.
  std::string offered;
  for (const std::string& each : versions) {
    offered += offered.empty() ? " " : ", ";
    string::appendEscaped(offered, each, false);
  }
  std::string message = "KORV Server is not compatible with this utility.\nThe server at '";
  string::appendEscaped(message, string::hideUserInfo(cli::api::url), false);
  message += "' offers" + (offered.empty() ? std::string(" no API version") : offered) + ".";
  throw IncompatibleServerError(message, __PRETTY_FUNCTION__, __LINE__);
}

}  // namespace korv::web
