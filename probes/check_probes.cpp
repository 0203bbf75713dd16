#include "probes/check_probes.h"

#include <iostream>

#include <CLI/CLI.hpp>

#include "common/logger.h"
#include "common/scope.h"
#include "exchange/check.h"
#include "exchange/result.h"
#include "probes/probe.h"

namespace korv::cli {

namespace {
CheckProbes command;
// Probes are checked by their field table, in probe files and where alert templates carry them.
const api::FieldRulesOf<Probe> rules(api::kProbes);
}  // namespace

CheckProbes::CheckProbes() : Command("check-probes", 150), out(&std::cout) {}

std::string CheckProbes::Purpose() {
  return "Check a probe file offline; status 3 when it has problems.";
}

void CheckProbes::Init(CLI::App* app) {
  source.AddOption(app, "Probes file");
  app->get_option("--in-file")->type_name("FILE");
  api::addJsonOption(app, json);
  app->footer(
      "Examples:\n"
      "  korv-cli check-probes -i probes.json\n"
      "  korv-cli check-probes -i probes.json --json > probes-check.json\n"
      "  korv-cli --server old export-probes | korv-cli check-probes -i /dev/stdin\n");
}

void CheckProbes::Perform() {
  Scope reset([this] {
    source.Reset();
    json = false;
  });
  const bool problems = api::checkFile(
      api::kProbes, source, *out, json, [](const std::string& text) { LOG_INFO << text; },
      KORV_HERE);
  SetExitStatus(problems ? 3 : 0);
}

}  // namespace korv::cli
