#include "alert-templates/diff_alert_templates.h"

#include <iostream>

#include <CLI/CLI.hpp>

#include "alert-templates/import_alert_templates.h"
#include "common/scope.h"
#include "exchange/diff.h"

namespace korv::cli {

namespace {
DiffAlertTemplates command;
}  // namespace

DiffAlertTemplates::DiffAlertTemplates() : Command("diff-alert-templates", 240), out(&std::cout) {}

std::string DiffAlertTemplates::Purpose() {
  return "Show what importing the alert template(s) would change in the KORV Server, changing "
         "nothing.";
}

void DiffAlertTemplates::Init(CLI::App* app) {
  source.AddOption(app, "Alert template file");
  app->add_flag_callback(
      "--ignore-existing", [this] { ignoreExisting = true; },
      "Compare as an import with --ignore-existing would act: existing alert templates are "
      "skipped.");
  app->add_flag_callback(
      "--ignore-existing-probes", [this] { ignoreExistingProbes = true; },
      "Compare as an import with --ignore-existing-probes would act: existing custom probes "
      "carried by the templates are skipped.");
}

void DiffAlertTemplates::Reset() {
  source.Reset();
  ignoreExistingProbes = false;
  ignoreExisting = false;
}

void DiffAlertTemplates::Perform() {
  Scope reset([this] { Reset(); });
  const nlohmann::json file = readAlertTemplateFile(source, KORV_HERE);
  const auto connection = api::connect();
  const api::DiffResult result = api::diffAlertTemplates(
      api::sessionConnections(connection), file, {ignoreExisting, ignoreExistingProbes}, KORV_HERE);
  api::printDiff(*out, result, KORV_HERE);
  SetExitStatus(result.WouldChange() ? 3 : 0);
}

}  // namespace korv::cli
