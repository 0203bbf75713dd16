// import-probes: sends a probe export file to the server and prints its verdict per probe.
#pragma once

#include <ostream>
#include <string>

#include "cli/command.h"
#include "exchange/exchange.h"

namespace korv::cli {

// Reads and checks a probe export file as import-probes does; the other commands that read such
// a file use it too, so that they check it alike and report the same errors.
nlohmann::json readProbeFile(api::ImportSource& source, const Place& place);

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
  bool ignoreExisting = false;
  // "--backup": where the server's versions of the probes the import overwrites are written.
  api::ExportDestination backup;
};

}  // namespace korv::cli
