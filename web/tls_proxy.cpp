// The TLS material, proxy and time limits of a WebConnection, applied to each request's handle.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/interrupt.h"
#include "common/logger.h"
#include "common/path.h"
#include "web/web_connection.h"

namespace korv::web {

namespace {

// How long a request that survives an interrupt (the token release) may still take.
constexpr long kAfterInterruptTimeoutMs = 10000;

const char* const kDefaultCABundles[] = {
    "/usr/libexec/libcurl-korv/share/certs/ca-bundle.crt",
    "/usr/lib/libcurl-korv/share/certs/ca-bundle.crt",
};

// The limit on a whole request: the one given, held to the short limit after an interrupt for a
// request that survives it.
long effectiveLimit(long givenMs, bool interruptible) {
  if (interruptible || interrupt::count() == 0) {
    return givenMs;
  }
  return givenMs > 0 ? std::min(givenMs, kAfterInterruptTimeoutMs) : kAfterInterruptTimeoutMs;
}

std::string stored(const std::unordered_map<CURLoption, std::string>& files, CURLoption option) {
  const auto found = files.find(option);
  return found == files.end() ? std::string() : found->second;
}

}  // namespace

bool WebConnection::SetSSLFile(CURLoption option, const std::string& path,
                               const std::string& label) {
  if (path.empty() || path::checkIfFileExists(path)) {
    sslFiles[option] = path;
    return true;
  }
  LOG_WARNING << "[WebConnection] " << label << " '" << path
              << "' does not exist or don't have enough permission. (error: "
              << std::strerror(errno) << ")";
  return false;
}

bool WebConnection::SetSSLCert(const std::string& path) {
  return SetSSLFile(CURLOPT_SSLCERT, path, "SSL Certificate File");
}

bool WebConnection::SetSSLKey(const std::string& path) {
  return SetSSLFile(CURLOPT_SSLKEY, path, "SSL Key File");
}

bool WebConnection::SetSSLCA(std::string path) {
  return SetSSLFile(CURLOPT_CAINFO, path, "Certificate Authority (CA) Bundle");
}

bool WebConnection::SetSSLCRL(const std::string& path) {
  return SetSSLFile(CURLOPT_CRLFILE, path, "Certificate Revocation List Bundle");
}

void WebConnection::SetSSLOptions(CURL* handle) {
  const std::string cert = stored(sslFiles, CURLOPT_SSLCERT);
  const std::string key = stored(sslFiles, CURLOPT_SSLKEY);
  const std::string crl = stored(sslFiles, CURLOPT_CRLFILE);
  const std::string ca = stored(sslFiles, CURLOPT_CAINFO);

  if (!cert.empty() && !key.empty()) {
    LOG_DEBUG << "SSL Cert file '" << cert << "' and "
              << "SSL Key file '" << key << "' are "
              << "being used.";
    curl_easy_setopt(handle, CURLOPT_SSLCERT, cert.c_str());
    curl_easy_setopt(handle, CURLOPT_SSLKEY, key.c_str());
  } else if (!cert.empty()) {
    LOG_WARNING << "SSL Cert file '" << cert << "' is "
                << "provided, but SSL key file is not "
                << "provided or not accessible.";
  } else if (!key.empty()) {
    LOG_WARNING << "SSL Key file '" << key << "' is "
                << "provided, but SSL Cert file is not "
                << "provided or not accessible.";
  }

  if (!ca.empty()) {
    LOG_DEBUG << "SSL CA Cert '" << ca << "' is being used.";
    curl_easy_setopt(handle, CURLOPT_CAINFO, ca.c_str());
    if (!crl.empty()) {
      LOG_DEBUG << "SSL CRL File '" << crl << "' is being used.";
      curl_easy_setopt(handle, CURLOPT_CRLFILE, crl.c_str());
    }
  } else if (useDefaultCABundle) {
    const char* bundle = nullptr;
    for (const char* candidate : kDefaultCABundles) {
      if (path::checkIfFileExists(candidate)) {
        bundle = candidate;
        break;
      }
    }
    if (bundle == nullptr) {
      LOG_DEBUG << "Default Certificate Authority (CA) Bundle is not available.";
    } else {
      curl_easy_setopt(handle, CURLOPT_CAINFO, bundle);
    }
  }

  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, verifySSL ? 1L : 0L);
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, verifySSL ? 2L : 0L);
}

void WebConnection::SetProxy(const std::string& proxy, const std::string& user,
                             const std::string& password) {
  proxyOptions.clear();
  if (proxy.empty()) {
    return;
  }
  LOG_DEBUG << "Using proxy: '" << proxy << "'";
  proxyOptions[CURLOPT_PROXY] = proxy;
  proxyOptions[CURLOPT_NOPROXY] = "";
  if (user.empty() || password.empty()) {
    return;
  }
  LOG_DEBUG << "Using proxy user: '" << user << "'";
  proxyOptions[CURLOPT_PROXYUSERNAME] = user;
  proxyOptions[CURLOPT_PROXYPASSWORD] = password;
}

void WebConnection::SetProxySettings(CURL* handle) {
  for (const auto& [option, value] : proxyOptions) {
    curl_easy_setopt(handle, option, value.c_str());
  }
}

void WebConnection::SetTimeouts(long connectMs, long totalMs) {
  connectTimeoutMs = connectMs;
  totalTimeoutMs = totalMs;
}

void WebConnection::SetTimeoutOptions(CURL* handle) {
  const long total = effectiveLimit(totalTimeoutMs, interruptible);
  if (total > 0) {
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, total);
  }
  if (connectTimeoutMs > 0) {
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, connectTimeoutMs);
  }
}

std::string WebConnection::DescribeTimeouts() const {
  const auto limit = [](long ms) { return ms > 0 ? std::to_string(ms) + " ms" : "default"; };
  return "connect limit " + limit(connectTimeoutMs) + ", request limit " +
         limit(effectiveLimit(totalTimeoutMs, interruptible));
}

}  // namespace korv::web
