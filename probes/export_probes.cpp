#include "probes/export_probes.h"

#include <CLI/CLI.hpp>

#include "common/scope.h"

namespace korv::cli {

namespace {
ExportCustomProbes command;
}  // namespace

ExportCustomProbes::ExportCustomProbes() : Command("export-probes", 120) {}

std::string ExportCustomProbes::Purpose() {
  return "Export the custom (user-defined) probes from the KORV Server.";
}

void ExportCustomProbes::Init(CLI::App* app) {
  api::addIdOption(app, "-i,--probe-id", probeIds, "List of the custom probe-id to be exported");
  destination.AddOptions(app);
}

void ExportCustomProbes::Perform() {
  Scope release([this] { ReleaseFile(); });
  destination.Open(KORV_HERE);
  const auto connection = api::connect();
  api::postJson(*connection, "/probe/custom/export/", {{"probes", probeIds}});
  if (destination.WriteFast(*connection, "probes", KORV_HERE)) {
    return;
  }
  const nlohmann::json answer = api::parseResponse(*connection, KORV_HERE);
  // A failure status is reported with the server's text alone, without the status.
  api::checkStatus(*connection, answer, api::FailureReport::ResponseValidationError, KORV_HERE);
  api::checkExport(answer, "probes", KORV_HERE);
  destination.Write(answer, KORV_HERE);
}

}  // namespace korv::cli
