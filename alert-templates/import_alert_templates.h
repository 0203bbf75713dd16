// import-alert-templates: sends an alert template export file to the server and prints its
// verdict per item.
#pragma once

#include <ostream>
#include <string>

#include "cli/command.h"
#include "exchange/exchange.h"

namespace korv::cli {

// Reads and checks an alert template export file as import-alert-templates does; the other
// commands that read such a file use it too, so that they check it alike and report the same
// errors.
nlohmann::json readAlertTemplateFile(api::ImportSource& source, const Place& place);

class ImportCustomAlertTemplates : public Command {
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
  // "--backup": where the server's versions of what the import overwrites are written.
  api::ExportDestination backup;
};

}  // namespace korv::cli
