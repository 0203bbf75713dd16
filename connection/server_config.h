// The configuration file of named servers: each "[servers.NAME]" table holds the connection
// settings of one server, under the names of the global options (with "url" and "user" for the
// server URL and user). A password is never in the file, only a "password-file".
#pragma once

#include <string>
#include <vector>

namespace korv::cli::api {

// "$XDG_CONFIG_HOME/korv-cli/config.toml", else "$HOME/.config/korv-cli/config.toml".
std::string defaultConfigPath();

// How a server's entry writes a value: text, a path ("~/" stands for the home directory), a
// number of seconds greater than 0, or true or false.
enum class ValueKind { Text, Path, Seconds, Flag };

// A key that a server's entry may hold and the long name of the global option it sets.
struct EntryKey {
  const char* key;
  const char* option;
  ValueKind kind;
};

// One setting of a server: the long name of its global option, its value as the command line
// would give it ("true"/"false" for a flag) and where the file gives it, for messages:
// "Configuration file '/x.toml', line 4".
struct ServerSetting {
  std::string option;
  std::string value;
  std::string origin;
};

// Reads the settings of the server NAME (not empty) from the file at path; its entries may hold
// the keys given and no others. A missing file is a
// UsageError of kind File when the file was named (explicit), else, as for an unknown server
// name, of kind Value, listing the servers known. A file that is not a plain file, that belongs
// to neither the running user nor root, or that group or others may write is refused (File);
// syntax errors, unknown keys, empty server names and unusable values name the line (Config).
// Every entry is checked, not only the one asked for.
std::vector<ServerSetting> readServer(const std::string& path, bool explicitFile,
                                      const std::string& name, const std::vector<EntryKey>& keys);

// A server's entry: its name and settings, in the order the file writes them.
struct NamedServer {
  std::string name;
  std::vector<ServerSetting> settings;
};

// Every entry of the file at path, checked as readServer checks them; a missing file is refused
// as a named one is (File).
std::vector<NamedServer> readServers(const std::string& path, const std::vector<EntryKey>& keys);

}  // namespace korv::cli::api
