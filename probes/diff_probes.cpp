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
  return "Show what importing probe(s) would change, changing nothing.";
}

void DiffProbes::Init(CLI::App* app) {
  source.AddOption(app, "Probes file");
  app->get_option("--in-file")->type_name("FILE");
  api::addJsonOption(app, json);
  names.AddOption(app, "Compare only the probes whose names match the pattern (repeatable).");
  app->add_flag_callback(
      "--ignore-existing", [this] { ignoreExisting = true; },
      "Compare as an import with --ignore-existing would act:\n"
      "existing custom probes are skipped.");
  app->footer(
      "Examples:\n"
      "  korv-cli --server new diff-probes -i probes.json\n"
      "  korv-cli --server new diff-probes -i probes.json --ignore-existing --name 'Orders*'\n"
      "  korv-cli --server new diff-probes -i probes.json --json > probes-diff.json\n");
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
