#include "probes/export_probes.h"

#include <CLI/CLI.hpp>

#include "common/scope.h"
#include "exchange/commands.h"

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
  names.AddOption(app, "Export only the probes whose names match the pattern (repeatable).");
}

void ExportCustomProbes::Perform() {
  Scope release([this] {
    ReleaseFile();
    names.Reset();
  });
  api::exportItems(api::kProbes, probeIds, names, destination, KORV_HERE);
}

}  // namespace korv::cli
