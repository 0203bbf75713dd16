#include "alert-templates/diff_alert_templates.h"

#include <iostream>

#include <CLI/CLI.hpp>

#include "common/logger.h"
#include "common/scope.h"
#include "exchange/commands.h"
#include "exchange/result.h"

namespace korv::cli {

namespace {
DiffAlertTemplates command;
}  // namespace

DiffAlertTemplates::DiffAlertTemplates() : Command("diff-alert-templates", 240), out(&std::cout) {}

std::string DiffAlertTemplates::Purpose() {
  return "Show what importing alert template(s) would change, changing nothing.";
}

void DiffAlertTemplates::Init(CLI::App* app) {
  source.AddOption(app, "Alert template file");
  app->get_option("--in-file")->type_name("FILE");
  api::addJsonOption(app, json);
  names.AddOption(app,
                  "Compare only the alert templates whose names match the pattern\n"
                  "(repeatable).");
  app->add_flag_callback(
      "--ignore-existing", [this] { ignoreExisting = true; },
      "Compare as an import with --ignore-existing would act:\n"
      "existing alert templates are skipped.");
  app->add_flag_callback(
      "--ignore-existing-probes", [this] { ignoreExistingProbes = true; },
      "Compare as an import with --ignore-existing-probes would act:\n"
      "existing custom probes carried by the templates are skipped.");
  app->footer(
      "Examples:\n"
      "  korv-cli --server new diff-alert-templates -i alert-templates.json\n"
      "  korv-cli --server new diff-alert-templates -i alert-templates.json"
      " --ignore-existing-probes\n"
      "  korv-cli --server new diff-alert-templates -i alert-templates.json"
      " --name 'Nightly*' --json\n");
}

void DiffAlertTemplates::Reset() {
  source.Reset();
  json = false;
  names.Reset();
  ignoreExistingProbes = false;
  ignoreExisting = false;
}

void DiffAlertTemplates::Perform() {
  Scope reset([this] { Reset(); });
  const bool wouldChange = api::diffFile(
      api::kAlertTemplates, source, {ignoreExisting, ignoreExistingProbes}, names, *out, json,
      [](const std::string& text) { LOG_INFO << text; }, KORV_HERE);
  SetExitStatus(wouldChange ? 3 : 0);
}

}  // namespace korv::cli
