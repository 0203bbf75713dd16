#include "alert-templates/import_alert_templates.h"

#include <iostream>

#include <CLI/CLI.hpp>

#include "common/logger.h"
#include "common/scope.h"
#include "exchange/commands.h"
#include "exchange/result.h"

namespace korv::cli {

namespace {
ImportCustomAlertTemplates command;
}  // namespace

ImportCustomAlertTemplates::ImportCustomAlertTemplates()
    : Command("import-alert-templates", 230), out(&std::cout) {}

std::string ImportCustomAlertTemplates::Purpose() {
  return "Import the alert template(s) into the KORV Server.";
}

void ImportCustomAlertTemplates::Init(CLI::App* app) {
  source.AddOption(app, "Alert template file");
  api::addJsonOption(app, json);
  names.AddOption(app,
                  "Import only the alert templates of the file whose names match\n"
                  "the pattern (repeatable).");
  app->add_flag_callback(
      "--ignore-existing", [this] { ignoreExisting = true; },
      "Ignore the existing alert template in the KORV Server.");
  app->add_flag_callback(
      "--ignore-existing-probes", [this] { ignoreExistingProbes = true; },
      "Ignore the existing probes in the KORV Server.");
  app->add_flag_callback(
      "--strict", [this] { strict = true; }, "Exit with status 5 when an item failed.");
  backup.AddBackupOption(app,
                         "Before importing, write the server's current versions of the\n"
                         "custom alert templates and probes the import would overwrite\n"
                         "to this new file, as an alert template export file.");
}

void ImportCustomAlertTemplates::Reset() {
  source.Reset();
  json = false;
  names.Reset();
  ignoreExistingProbes = false;
  ignoreExisting = false;
  strict = false;
  backup.ReleaseFile();
}

void ImportCustomAlertTemplates::Perform() {
  Scope reset([this] { Reset(); });
  const bool failed = api::importFile(
      api::kAlertTemplates, source, {ignoreExisting, ignoreExistingProbes}, names, backup, *out,
      json, [](const std::string& text) { LOG_INFO << text; }, KORV_HERE);
  if (strict && failed) {
    SetExitStatus(5);
  }
}

}  // namespace korv::cli
