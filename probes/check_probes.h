// check-probes: checks a probe export file without a server and prints what is wrong with it.
#pragma once

#include <ostream>
#include <string>

#include "cli/command.h"
#include "exchange/exchange.h"

namespace korv::cli {

class CheckProbes : public Command {
 public:
  CheckProbes();

  void Perform() override;
  void Init(CLI::App* app) override;
  std::string Purpose() override;
  bool NeedsServer() const override { return false; }

 private:
  std::ostream* out;
  api::ImportSource source;
  // "--json": the result for programs instead of the table.
  bool json = false;
};

}  // namespace korv::cli
