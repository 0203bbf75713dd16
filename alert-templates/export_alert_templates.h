// export-alert-templates: writes the server's export of chosen custom alert templates to a file
// or standard output.
#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "cli/command.h"
#include "exchange/commands.h"

namespace korv::cli {

class ExportCustomAlertTemplates : public Command {
 public:
  ExportCustomAlertTemplates();

  void Perform() override;
  void Init(CLI::App* app) override;
  std::string Purpose() override;

  void ReleaseFile() { destination.ReleaseFile(); }

 private:
  std::set<std::uint32_t> templateIds;
  api::ExportDestination destination;
  api::NameFilter names;
};

}  // namespace korv::cli
