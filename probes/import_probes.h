// import-probes: sends a probe export file to the server and prints its verdict per probe.
#pragma once

#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "cli/command.h"

namespace korv::cli {

class ImportProbes : Command {
 public:
  ImportProbes();

  void Perform() override;
  void Init(CLI::App* app) override;
  std::string Purpose() override;

  bool SetFileName(const std::vector<std::string>& values);
  // Closes the input file and forgets the options.
  void Reset();

 private:
  std::ostream* out;
  std::string fileName;
  std::ifstream inFile;
  bool ignoreExisting = false;
};

}  // namespace korv::cli
