// The options of the utility as a whole: logging, the version banner and the server connection.
#pragma once

#include <ostream>
#include <string>

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

// Replaces the connection settings with those of the server NAME: the global options of the
// command line, then its configuration entry, then the environment, then the defaults. Raises the
// command-line errors of a first parse.
void loadServer(const std::string& name);

// The four-line version banner: title, version, revision and build time, schema.
void showVersion(std::ostream& out, const std::string& title);

}  // namespace korv::cli
