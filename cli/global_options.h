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

// The four-line version banner: title, version, revision and build time, schema.
void showVersion(std::ostream& out, const std::string& title);

}  // namespace korv::cli
