// import-probes: sends a probe export file to the server and prints its verdict per probe.
#pragma once

#include <ostream>
#include <string>

#include "api/exchange.h"
#include "cli/command.h"

namespace korv::cli {

class ImportProbes : Command {
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
};

}  // namespace korv::cli
