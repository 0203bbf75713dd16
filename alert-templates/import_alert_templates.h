// import-alert-templates: sends an alert template export file to the server and prints its
// verdict per item.
#pragma once

#include <ostream>
#include <string>

#include "api/exchange.h"
#include "cli/command.h"

namespace korv::cli {

class ImportCustomAlertTemplates : Command {
 public:
  ImportCustomAlertTemplates();

  void Perform() override;
  void Init(CLI::App* app) override;
  std::string Purpose() override;

  // Closes the input file and forgets the options.
  void Reset();

 private:
  std::ostream* out;
  api::ImportSource source;
  bool ignoreExistingProbes = false;
  bool ignoreExisting = false;
};

}  // namespace korv::cli
