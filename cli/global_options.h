// The options of the utility as a whole: logging, the version banner and the server connection.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "connection/server_config.h"

namespace CLI {
class App;
}

namespace korv::cli {

// Adds the global options to the main parser, after the subcommands.
void addGlobalOptions(CLI::App& app, const std::string& title);

// For a subcommand that works without a server: the server's options are no longer required,
// and no server's entry is read. Call it before the global options are processed.
void serverNotNeeded(CLI::App& app);

// Makes the server a subcommand names (migrate's source) the server of the run's settings, over
// --server and KORV_SERVER. Call it from a callback that runs as the option is parsed.
void chooseServer(const std::string& name);

// Keeps the command line, for loadServer.
void rememberCommandLine(int argc, const char* const* argv);

// A server setting as the run takes it: its key in a server's entry, its value as given and where
// the value comes from: the option ("--korv-user"), the entry's line or the variable.
struct GivenSetting {
  std::string key;
  std::string value;
  std::string origin;
};

// Replaces the connection settings with those of the server NAME: the global options of the
// command line, then its configuration entry, then the environment, then the defaults. Raises the
// command-line errors of a first parse. Returns the server settings given, in help order.
std::vector<GivenSetting> loadServer(const std::string& name);

// The keys of a server's entry, one for each server setting, in help order.
std::vector<api::EntryKey> entryKeys();

// The run's configuration file: --config, else KORV_CONFIG (then named is true), else the default.
std::string configFile(const CLI::App& app, bool& named);

// The four-line version banner: title, version, revision and build time, schema.
void showVersion(std::ostream& out, const std::string& title);

}  // namespace korv::cli
