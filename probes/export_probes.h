// export-probes: writes the server's export of chosen custom probes to a file or standard output.
#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "cli/command.h"
#include "exchange/commands.h"

namespace korv::cli {

class ExportCustomProbes : public Command {
 public:
  ExportCustomProbes();

  void Perform() override;
  void Init(CLI::App* app) override;
  std::string Purpose() override;

  void ReleaseFile() { destination.ReleaseFile(); }

 private:
  std::set<std::uint32_t> probeIds;
  api::ExportDestination destination;
  api::NameFilter names;
};

}  // namespace korv::cli
