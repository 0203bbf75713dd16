#include "probes/diff_probes.h"

#include <iostream>

#include <CLI/CLI.hpp>

#include "common/logger.h"
#include "common/scope.h"
#include "exchange/commands.h"
#include "exchange/result.h"

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
  api::addJsonOption(app, json);
  names.AddOption(app, "Compare only the probes whose names match the pattern (repeatable).");
  app->add_flag_callback(
      "--ignore-existing", [this] { ignoreExisting = true; },
      "Compare as an import with --ignore-existing would act: existing custom probes are "
      "skipped.");
}

void DiffProbes::Reset() {
  source.Reset();
  json = false;
  names.Reset();
  ignoreExisting = false;
}

void DiffProbes::Perform() {
  Scope reset([this] { Reset(); });
  const bool wouldChange = api::diffFile(
      api::kProbes, source, {ignoreExisting, false}, names, *out, json,
      [](const std::string& text) { LOG_INFO << text; }, KORV_HERE);
  SetExitStatus(wouldChange ? 3 : 0);
}

}  // namespace korv::cli
