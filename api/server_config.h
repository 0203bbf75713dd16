// The configuration file of named servers: each "[servers.NAME]" table holds the connection
// settings of one server, under the names of the global options (with "url" and "user" for the
// server URL and user). A password is never in the file, only a "password-file".
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace korv::cli::api {

// "$XDG_CONFIG_HOME/korv-cli/config.toml", else "$HOME/.config/korv-cli/config.toml".
std::string defaultConfigPath();

// One setting of a server: the long name of its global option and its value as the command line
// would give it ("true"/"false" for a flag).
using ServerSetting = std::pair<std::string, std::string>;

// Reads the settings of the server NAME from the file at path. A missing file is an error only
// when named is set; then, as for an unknown server name, the message lists the servers known.
// A file that is not a regular file or that group or others may write is refused (CLI::FileError);
// syntax errors, unknown keys and values of the wrong type name the key and line
// (CLI::ConfigError); an unknown server is a CLI::ValidationError. An empty name only checks the
// file.
std::vector<ServerSetting> readServer(const std::string& path, bool named, const std::string& name);

}  // namespace korv::cli::api
