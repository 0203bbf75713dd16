#include "probes/export_probes.h"

#include <iostream>

#include <CLI/CLI.hpp>

#include "api/exchange.h"
#include "common/scope.h"

namespace korv::cli {

namespace {
ExportCustomProbes command;
}  // namespace

ExportCustomProbes::ExportCustomProbes() : Command("export-probes"), out(&std::cout) {}

std::string ExportCustomProbes::Purpose() {
  return "Export the custom (user-defined) probes from the KORV Server.";
}

void ExportCustomProbes::Init(CLI::App* app) {
  app->add_option("-i,--probe-id", probeIds, "List of the custom probe-id to be exported");
  app->add_option(
      "-o,--out-file",
      [this](const std::vector<std::string>& values) { return SetFileName(values); },
      "Output file name", true, [] { return std::string("Standard output (console)"); });
  app->add_flag_callback(
      "-w,--overwrite", [this] { overwrite = true; }, "Overwrite the existing output file.");
}

bool ExportCustomProbes::SetFileName(const std::vector<std::string>& values) {
  // Clears "-w" too; its callback runs after this one wherever it stands on the command line.
  ReleaseFile();
  fileName = values.at(0);
  return true;
}

void ExportCustomProbes::ReleaseFile() {
  if (fileOpen) {
    outFile.Discard();
    fileOpen = false;
    out = &std::cout;
  }
  fileName.clear();
  overwrite = false;
}

void ExportCustomProbes::Perform() {
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
  const nlohmann::json payload = {{"probes", probeIds}};
  // A failure status is reported with the server's text alone, without the status.
  api::sendExport(*connection, "/probe/custom/export/", payload,
                  api::FailureReport::ResponseValidationError, *out, outFile, fileName, KORV_HERE);
}

}  // namespace korv::cli
