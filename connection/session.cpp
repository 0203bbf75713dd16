#include "connection/session.h"

#include <memory>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "common/env.h"
#include "common/error.h"
#include "common/logger.h"
#include "common/string_utils.h"
#include "connection/settings.h"
#include "connection/transport_settings.h"
#include "records/record_stream.h"
#include "web/web_connection.h"

namespace korv::cli::api {

namespace {

constexpr char kTokenPath[] = "api/token/";
constexpr char kMissingCredentials[] = "Provide username and password to continue.";
constexpr char kAuthenticationFailed[] =
    "User authentication failed.\n"
    "Please check if user exists in the KORV backend database server.\n"
    "Please check if user has correct privileges to run the REST APIs.\n";
constexpr char kAccessFailed[] =
    "Failed to access the KORV REST API Server.\nPlease check the log file for more information.";
constexpr char kVersionsMissing[] = "Failed to fetch the supported API versions from the response.";

std::string loginBody() {
  nlohmann::json body;
  body["username"] = user;
  body["password"] = password;
  try {
    return body.dump();
  } catch (const nlohmann::json::type_error&) {
    // The strict writer refuses text that is not UTF-8; nothing is sent then.
    LOG_WARNING << "The user name or the password is not valid UTF-8 text.";
    throw CLI::ValidationError(kAccessFailed);
  }
}

}  // namespace

Connection current() {
  return Connection{url,       user,       password, token, supportedApiVersions, secureConnection,
                    transport, serverEntry};
}

void activate(const Connection& c) {
  url = c.url;
  user = c.user;
  password = c.password;
  token = c.token;
  supportedApiVersions = c.supportedApiVersions;
  secureConnection = c.secureConnection;
  transport = c.transport;
  serverEntry = c.serverEntry;
}

void resetConnectionSettings() {
  activate(Connection{});
}

void init() {
  if (user.empty() || (password.empty() && !process_env("KORV_API_PASSWORD", password))) {
    throw CLI::ValidationError(serverEntry.empty() ? kMissingCredentials
                                                   : serverEntry + ": " + kMissingCredentials);
  }

  auto connection = std::make_shared<web::WebConnection>();
  const std::string body = loginBody();
  connection->AddHeader("Content-Type", "application/json");
  configure(*connection);
  const std::string tokenUrl = url + kTokenPath;
  LOG_INFO << string::format("url: %s", string::hideUserInfo(tokenUrl));
  if (const std::string transport = describeTransport(); !transport.empty()) {
    LOG_INFO << "Connection settings: " << transport;
  }
  connection->Perform(tokenUrl, "POST", body);

  if (connection->ResponseCode() != 201) {
    if (connection->ResponseCode() == 401) {
      throw CLI::ValidationError(kAuthenticationFailed);
    }
    throw CLI::ValidationError(kAccessFailed);
  }

  // Found in any letter case (HTTP/2 sends "x-subject-token"); the value keeps its leading blank.
  const auto& headers = connection->ResponseHeaders();
  const auto found = headers.find("X-Subject-Token");
  token = found == headers.end() ? std::string() : found->second;
  string::rtrim(token);
  LOG_DEBUG << connection->Response();
  LOG_DEBUG << "Generated Token:" << token;

  const std::optional<nlohmann::json> answer = parseText(connection->Response());
  if (!answer) {
    throw CLI::ValidationError(kResponseParseFailure);
  }
  try {
    supportedApiVersions = answer->at("supported_api_versions").get<std::vector<std::string>>();
  } catch (const nlohmann::json::exception&) {
    throw CLI::ValidationError(kVersionsMissing);
  }
}

void finish() {
  if (token.empty()) {
    return;
  }
  try {
    auto connection = std::make_shared<web::WebConnection>();
    connection->AddHeader("X-Auth-Token", token);
    configure(*connection);
    // The token is given back even when the run was interrupted.
    connection->SetInterruptible(false);
    const std::string tokenUrl = url + kTokenPath;
    LOG_INFO << string::format("Releasing the token, url: %s, token: %s",
                               string::hideUserInfo(tokenUrl), token);
    connection->Perform(tokenUrl, "DELETE", "");
    if (connection->ResponseCode() == 204) {
      token.clear();
      LOG_INFO << "Token released..";
    } else {
      LOG_WARNING << "Couldn't release the token..."
                  << "\nResponse Code: " << connection->ResponseCode()
                  << "\nWith Error: " << connection->ErrorMessage();
    }
  } catch (const std::exception& e) {
    LOG_WARNING << "Couldn't release the token: " << e.what();
  }
}

}  // namespace korv::cli::api
