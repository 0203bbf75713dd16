// export-probes: writes the server's export of chosen custom probes to a file or standard output.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "api/exchange.h"
#include "cli/command.h"

namespace korv::cli {

class ExportCustomProbes : Command {
 public:
  ExportCustomProbes();

  void Perform() override;
  void Init(CLI::App* app) override;
  std::string Purpose() override;

  bool SetFileName(const std::vector<std::string>& values) {
    return destination.SetFileName(values);
  }
  void ReleaseFile() { destination.ReleaseFile(); }

 private:
  std::set<int> probeIds;
  api::ExportDestination destination;
};

}  // namespace korv::cli
