// How the run's connections reach the server: whom they trust (CA bundle, revocation list), who
// they are (client certificate and key), the proxy and the time limits. Filled while the command
// line is parsed; every file is checked then, before any request.
#pragma once

#include <string>
#include <vector>

namespace korv::web {
class WebConnection;
}

namespace korv::cli::api {

struct Transport {
  std::string caBundle;       // PEM bundle of CAs; empty: the default bundle search
  std::string crlFile;        // revocation list, applied with the CA bundle
  std::string clientCert;     // client certificate (PEM); set together with clientKey
  std::string clientKey;      // its private key (PEM), readable by the owner only
  std::string proxy;          // proxy URL, without credentials; empty: libcurl's variables
  std::string proxyUser;      // proxy user; empty: none
  std::string proxyPassword;  // from KORV_PROXY_PASSWORD only; never logged
  long connectTimeoutMs = 0;  // limit on connecting; 0: libcurl's default
  long maxTimeMs = 0;         // limit on each whole request; 0: none
};
extern Transport transport;

// Option callbacks; they accept or raise a command-line error that names the file or value.
bool setCABundle(const std::vector<std::string>& values);
bool setCRLFile(const std::vector<std::string>& values);
bool setClientCert(const std::vector<std::string>& values);
bool setClientKey(const std::vector<std::string>& values);
bool setProxy(const std::vector<std::string>& values);
bool setProxyUser(const std::vector<std::string>& values);
bool setConnectTimeout(const std::vector<std::string>& values);
bool setMaxTime(const std::vector<std::string>& values);

// Decimal seconds greater than 0 ("2", "0.5", ".5") in whole milliseconds, at least 1; false for
// anything else.
bool parseSeconds(const std::string& text, long& milliseconds);

// Gives the connection these settings and the certificate check of --insecure. Raises
// korv::FileError when a file went away since it was checked.
void configure(web::WebConnection& connection);

// The settings given, for the log: "CA bundle '/x.pem', max time 500 ms"; "" when none is.
// Never holds the proxy password.
std::string describeTransport();

}  // namespace korv::cli::api
