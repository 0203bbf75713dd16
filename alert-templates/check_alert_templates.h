// check-alert-templates: checks an alert template export file, with the probes its templates
// carry, without a server and prints what is wrong with it.
#pragma once

#include <ostream>
#include <string>

#include "cli/command.h"
#include "exchange/exchange.h"

namespace korv::cli {

class CheckAlertTemplates : public Command {
 public:
  CheckAlertTemplates();

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
