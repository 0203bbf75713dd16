#include "probes/diff_probes.h"

#include <iostream>

#include <CLI/CLI.hpp>

#include "common/scope.h"
#include "exchange/diff.h"
#include "probes/import_probes.h"

namespace korv::cli {

namespace {
DiffProbes command;
}  // namespace

DiffProbes::DiffProbes() : Command("diff-probes", 140), out(&std::cout) {}

std::string DiffProbes::Purpose() {
  return "Show what importing the probe(s) would change in the KORV Server, changing nothing.";
}

void DiffProbes::Init(CLI::App* app) {
  source.AddOption(app, "Probes file");
  app->add_flag_callback(
      "--ignore-existing", [this] { ignoreExisting = true; },
      "Compare as an import with --ignore-existing would act: existing custom probes are "
      "skipped.");
}

void DiffProbes::Reset() {
  source.Reset();
  ignoreExisting = false;
}

void DiffProbes::Perform() {
  Scope reset([this] { Reset(); });
  const nlohmann::json file = readProbeFile(source, KORV_HERE);
  const auto connection = api::connect();
  const api::DiffResult result = api::diffProbes(api::sessionConnections(connection), file,
                                                 {ignoreExisting, false}, KORV_HERE);
  api::printDiff(*out, result, KORV_HERE);
  SetExitStatus(result.WouldChange() ? 3 : 0);
}

}  // namespace korv::cli
