// export-probes: writes the server's export of chosen custom probes to a file or standard output.
#pragma once

#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "cli/command.h"
#include "common/output.h"

namespace korv::cli {

class ExportCustomProbes : Command {
 public:
  ExportCustomProbes();

  void Perform() override;
  void Init(CLI::App* app) override;
  std::string Purpose() override;

  bool SetFileName(const std::vector<std::string>& values);
  // Closes (and discards) an unfinished export file; back to standard output, no file name.
  void ReleaseFile();

 private:
  std::ostream* out;
  std::set<int> probeIds;
  std::string fileName;
  bool overwrite = false;
  bool fileOpen = false;
  AtomicFile outFile;
};

}  // namespace korv::cli
