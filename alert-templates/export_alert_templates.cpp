#include "alert-templates/export_alert_templates.h"

#include <CLI/CLI.hpp>

#include "common/scope.h"

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
}

void ExportCustomAlertTemplates::Perform() {
  Scope release([this] { ReleaseFile(); });
  destination.Open(KORV_HERE);
  const auto connection = api::connect();
  api::postJson(*connection, "/alert/custom/export/", {{"alert_templates", templateIds}});
  if (destination.WriteFast(*connection, "alert_templates", KORV_HERE)) {
    return;
  }
  const nlohmann::json answer = api::parseResponse(*connection, KORV_HERE);
  api::checkStatus(*connection, answer, api::FailureReport::HTTPError, KORV_HERE);
  api::checkExport(answer, "alert_templates", KORV_HERE);
  destination.Write(answer, KORV_HERE);
}

}  // namespace korv::cli
