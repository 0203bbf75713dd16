// The TLS material and proxy of a WebConnection, applied to each request's handle.
#include <cerrno>
#include <cstring>

#include "common/logger.h"
#include "common/path.h"
#include "web/web_connection.h"

namespace korv::web {

namespace {

const char* const kDefaultCABundles[] = {
    "/usr/libexec/libcurl-korv/share/certs/ca-bundle.crt",
    "/usr/lib/libcurl-korv/share/certs/ca-bundle.crt",
};

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

}  // namespace korv::web
