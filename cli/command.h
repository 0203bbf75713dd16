// The base of every subcommand, the registry the subcommands enter themselves into, and the
// driver that builds the command line from the registry and runs one subcommand.
#pragma once

#include <string>

namespace CLI {
class App;
}

namespace korv::cli {

class Command {
 public:
  // Where a command stands in help: commands are listed by this key, then by name. The keys in
  // use: 100 and up the probe commands, 200 and up the alert template commands, and within each
  // ten apart: list, export, import, diff, check.
  static constexpr int kLast = 1000000;

  // Registers the command under its name. Subcommands are global objects, so this runs before
  // main; the registry only keeps the pointer until InitAll calls the operations below.
  explicit Command(const std::string& name, int order = kLast);

  // Runs the subcommand: its requests to the server and its output.
  virtual void Perform() = 0;
  // Declares the subcommand's options on its own parser.
  virtual void Init(CLI::App* app) = 0;
  // The one-line description shown in help.
  virtual std::string Purpose() = 0;
  // Whether the subcommand talks to a server; one that does not needs no server options.
  virtual bool NeedsServer() const { return true; }

  static void Register(const std::string& name, Command* command, int order = kLast);

  // Builds the command line, parses it, runs at most one subcommand and returns the exit status.
  // In stand-alone mode the only registered command's options are the top-level options.
  static int InitAll(const std::string& title, int argc, char** argv, bool standAlone);

  // Lets a subcommand that ends normally give another exit status than 0 (the diff commands
  // give 3 when an import would change something). It holds for the current run only.
  static void SetExitStatus(int status);

  // After an interrupting signal: one line on standard error; the status is 128 + the signal.
  static int reportInterrupt();

 protected:
  // Commands live for the whole process and are never destroyed through this base.
  ~Command() = default;
};

}  // namespace korv::cli
