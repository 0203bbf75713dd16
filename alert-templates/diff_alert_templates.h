// diff-alert-templates: shows what importing an alert template export file would change in the
// server, the probes the templates carry included, without changing anything.
#pragma once

#include <ostream>
#include <string>

#include "cli/command.h"
#include "exchange/commands.h"

namespace korv::cli {

class DiffAlertTemplates : public Command {
 public:
  DiffAlertTemplates();

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
  bool ignoreExistingProbes = false;
  bool ignoreExisting = false;
};

}  // namespace korv::cli
