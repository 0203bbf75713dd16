// The settings of the run's one server connection, filled while the command line is parsed and
// by the login.
#pragma once

#include <string>
#include <vector>

namespace korv::cli::api {

extern std::string url;       // base URL; ends with "/" once set
extern std::string user;      // API user
extern std::string password;  // API password; empty means none (yet)
extern std::string token;     // session token; empty while no session is open
extern std::vector<std::string> supportedApiVersions;  // e.g. "v11_api"
extern bool secureConnection;  // whether the server's certificate and host name are checked
// The configuration entry the settings came from, naming it in messages: "Server 'new' in
// '/x.toml'"; empty when none was chosen.
extern std::string serverEntry;

// True when the URL has neither a query nor a fragment.
bool validateUrlWithoutQueryAndFragment(std::string url);

// Option callbacks; they accept or raise a command-line error.
bool setURL(const std::vector<std::string>& values);
bool setUser(const std::vector<std::string>& values);
bool setPasswordFile(const std::vector<std::string>& values);
bool useInsecureConnection();

}  // namespace korv::cli::api
