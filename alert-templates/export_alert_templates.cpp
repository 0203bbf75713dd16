#include "alert-templates/export_alert_templates.h"

#include <CLI/CLI.hpp>

#include "common/scope.h"
#include "exchange/commands.h"

namespace korv::cli {

namespace {
ExportCustomAlertTemplates command;
}  // namespace

ExportCustomAlertTemplates::ExportCustomAlertTemplates() : Command("export-alert-templates", 220) {}

std::string ExportCustomAlertTemplates::Purpose() {
  return "Export the custom (user-defined) alert templates from the KORV Server.";
}

void ExportCustomAlertTemplates::Init(CLI::App* app) {
  api::addIdOption(app, "-i,--id", templateIds,
                   "List of id for the custom alert templates to be exported");
  destination.AddOptions(app);
  names.AddOption(app,
                  "Export only the alert templates whose names match the pattern\n"
                  "(repeatable).");
}

void ExportCustomAlertTemplates::Perform() {
  Scope release([this] {
    ReleaseFile();
    names.Reset();
  });
  api::exportItems(api::kAlertTemplates, templateIds, names, destination, KORV_HERE);
}

}  // namespace korv::cli
