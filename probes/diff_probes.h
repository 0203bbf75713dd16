// diff-probes: shows what importing a probe export file would change in the server, without
// changing anything.
#pragma once

#include <ostream>
#include <string>

#include "cli/command.h"
#include "exchange/commands.h"

namespace korv::cli {

class DiffProbes : public Command {
 public:
  DiffProbes();

  void Perform() override;
  void Init(CLI::App* app) override;
  std::string Purpose() override;

  // Closes the input file and forgets the options.
  void Reset();

 private:
  std::ostream* out;
  api::ImportSource source;
  // "--json": the result for programs instead of the table.
  bool json = false;
  api::NameFilter names;
  bool ignoreExisting = false;
};

}  // namespace korv::cli
