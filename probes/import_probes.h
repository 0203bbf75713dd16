// import-probes: sends a probe export file to the server and prints its verdict per probe.
#pragma once

#include <ostream>
#include <string>

#include "cli/command.h"
#include "exchange/commands.h"

namespace korv::cli {

class ImportProbes : public Command {
 public:
  ImportProbes();

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
  // "--strict": status 5 when an item failed.
  bool strict = false;
  // "--backup": where the server's versions of the probes the import overwrites are written.
  api::ExportDestination backup;
};

}  // namespace korv::cli
