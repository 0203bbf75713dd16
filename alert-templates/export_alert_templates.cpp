#include "alert-templates/export_alert_templates.h"

#include <iostream>

#include <CLI/CLI.hpp>

#include "api/exchange.h"
#include "common/scope.h"

namespace korv::cli {

namespace {
ExportCustomAlertTemplates command;
}  // namespace

ExportCustomAlertTemplates::ExportCustomAlertTemplates()
    : Command("export-alert-templates"), out(&std::cout) {}

std::string ExportCustomAlertTemplates::Purpose() {
  return "Export the custom (user-defined) alert templates from the KORV Server.";
}

void ExportCustomAlertTemplates::Init(CLI::App* app) {
  app->add_option("-i,--id", templateIds,
                  "List of id for the custom alert templates to be exported");
  app->add_option(
      "-o,--out-file",
      [this](const std::vector<std::string>& values) { return SetFileName(values); },
      "Output file name", true, [] { return std::string("Standard output (console)"); });
  app->add_flag_callback(
      "-w,--overwrite", [this] { overwrite = true; }, "Overwrite the existing output file.");
}

bool ExportCustomAlertTemplates::SetFileName(const std::vector<std::string>& values) {
  // Clears "-w" too; its callback runs after this one wherever it stands on the command line.
  ReleaseFile();
  fileName = values.at(0);
  return true;
}

void ExportCustomAlertTemplates::ReleaseFile() {
  if (fileOpen) {
    outFile.Discard();
    fileOpen = false;
    out = &std::cout;
  }
  fileName.clear();
  overwrite = false;
}

void ExportCustomAlertTemplates::Perform() {
  Scope release([this] { ReleaseFile(); });
  if (!fileName.empty()) {
    api::openExportFile(outFile, fileName, overwrite, KORV_HERE);
    fileOpen = true;
    out = &outFile.Stream();
  }
  const auto connection = api::connect();
  if (!connection) {
    return;
  }
  const nlohmann::json payload = {{"alert_templates", templateIds}};
  api::sendExport(*connection, "/alert/custom/export/", payload, api::FailureReport::HTTPError,
                  *out, outFile, fileName, KORV_HERE);
}

}  // namespace korv::cli
