#include "connection/transport_settings.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "common/env.h"
#include "common/error.h"
#include "common/string_utils.h"
#include "connection/settings.h"
#include "web/web_connection.h"

namespace korv::cli::api {

Transport transport;

namespace {

// A file the user named must be there and readable now: going on without it would silently
// change whom the run trusts or who it claims to be.
std::string readableFile(const std::string& path, const char* what) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0 || ::access(path.c_str(), R_OK) != 0) {
    throw UsageError(UsageError::Kind::File, string::format("%s '%s' is missing or not readable.",
                                                            what, string::printable(path)));
  }
  if (!S_ISREG(status.st_mode)) {
    throw UsageError(UsageError::Kind::File,
                     string::format("%s '%s' is not a plain file.", what, string::printable(path)));
  }
  return path;
}

long seconds(const std::vector<std::string>& values, const char* option) {
  long milliseconds = 0;
  if (!parseSeconds(values.at(0), milliseconds)) {
    throw UsageError(UsageError::Kind::Value,
                     string::format("%s: '%s' is not a number of seconds greater than 0.", option,
                                    string::printable(values.at(0))));
  }
  return milliseconds;
}

}  // namespace

bool setCABundle(const std::vector<std::string>& values) {
  transport.caBundle = readableFile(values.at(0), "CA bundle");
  return true;
}

bool setCRLFile(const std::vector<std::string>& values) {
  transport.crlFile = readableFile(values.at(0), "Revocation list");
  return true;
}

bool setClientCert(const std::vector<std::string>& values) {
  transport.clientCert = readableFile(values.at(0), "Client certificate");
  return true;
}

bool setClientKey(const std::vector<std::string>& values) {
  const std::string& path = readableFile(values.at(0), "Client key");
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0 || (status.st_mode & 077) != 0) {
    throw UsageError(
        UsageError::Kind::File,
        string::format(
            "Client key '%s' has group or world access; permissions should be u=rw (0600) or less.",
            string::printable(path)));
  }
  transport.clientKey = path;
  return true;
}

bool setProxy(const std::vector<std::string>& values) {
  const std::string& value = values.at(0);
  // Credentials in the URL would be a password on the command line, and in the log.
  const size_t scheme = value.find("://");
  const size_t start = scheme == std::string::npos ? 0 : scheme + 3;
  const size_t end = value.find_first_of("/?#", start);
  if (value.empty() || value.substr(start, end - start).find('@') != std::string::npos) {
    throw UsageError(
        UsageError::Kind::Value,
        "Give the proxy as a URL without credentials; the user goes in --proxy-user, the password "
        "in KORV_PROXY_PASSWORD.");
  }
  transport.proxy = value;
  return true;
}

bool setProxyUser(const std::vector<std::string>& values) {
  transport.proxyUser = values.at(0);
  if (transport.proxyUser.empty() || !process_env("KORV_PROXY_PASSWORD", transport.proxyPassword)) {
    throw UsageError(
        UsageError::Kind::Value,
        "Provide the proxy user and, in KORV_PROXY_PASSWORD, its password to continue.");
  }
  return true;
}

bool setConnectTimeout(const std::vector<std::string>& values) {
  transport.connectTimeoutMs = seconds(values, "--connect-timeout");
  return true;
}

bool setMaxTime(const std::vector<std::string>& values) {
  transport.maxTimeMs = seconds(values, "--max-time");
  return true;
}

bool parseSeconds(const std::string& text, long& milliseconds) {
  // Digits with at most one decimal point, ending in a digit: "2", "0.5", ".5".
  const size_t point = text.find('.');
  const bool digitsOnly = std::all_of(text.begin(), text.end(), [](char c) {
    return c == '.' || std::isdigit(static_cast<unsigned char>(c));
  });
  if (!digitsOnly || text.empty() || text.back() == '.' ||
      (point != std::string::npos && text.find('.', point + 1) != std::string::npos)) {
    return false;
  }
  const double value = std::ceil(std::strtod(text.c_str(), nullptr) * 1000);
  if (!(value > 0)) {
    return false;
  }
  milliseconds = value < static_cast<double>(LONG_MAX) ? static_cast<long>(value) : LONG_MAX;
  return true;
}

void configure(web::WebConnection& connection) {
  connection.AllowInsecure(!secureConnection);
  if (!connection.SetSSLCA(transport.caBundle) || !connection.SetSSLCRL(transport.crlFile) ||
      !connection.SetSSLCert(transport.clientCert) || !connection.SetSSLKey(transport.clientKey)) {
    throw FileError("A certificate, key or revocation list file has gone; see the log.",
                    __PRETTY_FUNCTION__, __LINE__);
  }
  connection.SetProxy(transport.proxy, transport.proxyUser, transport.proxyPassword);
  connection.SetTimeouts(transport.connectTimeoutMs, transport.maxTimeMs);
}

std::string describeTransport() {
  std::string text;
  const auto add = [&text](const std::string& part) { text += (text.empty() ? "" : ", ") + part; };
  const std::pair<const char*, const std::string*> named[] = {
      {"CA bundle", &transport.caBundle},
      {"revocation list", &transport.crlFile},
      {"client certificate", &transport.clientCert},
      {"client key", &transport.clientKey},
      {"proxy", &transport.proxy},
      {"proxy user", &transport.proxyUser}};
  for (const auto& [what, value] : named) {
    if (!value->empty()) {
      add(string::format("%s '%s'", what, *value));
    }
  }
  if (transport.connectTimeoutMs > 0) {
    add("connect timeout " + std::to_string(transport.connectTimeoutMs) + " ms");
  }
  if (transport.maxTimeMs > 0) {
    add("max time " + std::to_string(transport.maxTimeMs) + " ms");
  }
  return text;
}

}  // namespace korv::cli::api
