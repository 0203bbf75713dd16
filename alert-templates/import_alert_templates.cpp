#include "alert-templates/import_alert_templates.h"

#include <iostream>

#include <CLI/CLI.hpp>

#include "api/exchange.h"
#include "common/logger.h"
#include "common/scope.h"

namespace korv::cli {

namespace {

ImportCustomAlertTemplates command;

const api::ImportMessages kMessages{
    "Provide the Alert template input file.",
    "Alert-Template input file '%s' does not exists, or is not accessible.",
    "Input file is not a valid alert template file.",
    "Input file '%s' does not contain the following fields:\n- version: %s, alert_templates: %s",
    "Input file '%s' does not contain valid formatted data for importing the alert templates.",
};

}  // namespace

ImportCustomAlertTemplates::ImportCustomAlertTemplates()
    : Command("import-alert-templates", 230), out(&std::cout) {}

std::string ImportCustomAlertTemplates::Purpose() {
  return "Import the alert template(s) into the KORV Server.";
}

void ImportCustomAlertTemplates::Init(CLI::App* app) {
  source.AddOption(app, "Alert template file");
  app->add_flag_callback(
      "--ignore-existing", [this] { ignoreExisting = true; },
      "Ignore the existing alert template in the KORV Server.");
  app->add_flag_callback(
      "--ignore-existing-probes", [this] { ignoreExistingProbes = true; },
      "Ignore the existing probes in the KORV Server.");
}

void ImportCustomAlertTemplates::Reset() {
  source.Reset();
  ignoreExistingProbes = false;
  ignoreExisting = false;
}

void ImportCustomAlertTemplates::Perform() {
  Scope reset([this] { Reset(); });
  const nlohmann::json file = source.Read(kMessages, KORV_HERE);
  const std::string missing = source.MissingFields(file, "alert_templates", kMessages);
  if (!missing.empty()) {
    LOG_INFO << missing;
    source.Refuse(kMessages, KORV_HERE);
  }
  const auto connection = api::connect();
  if (!connection) {
    return;
  }
  nlohmann::json payload;
  payload["version"] = file.at("version");
  payload["skip_overwrite_probe"] = ignoreExistingProbes;
  payload["skip_overwrite"] = ignoreExisting;
  payload["alert_templates"] = file.at("alert_templates");
  api::sendImport(*connection, "/alert/custom/import/", payload, *out, KORV_HERE);
}

}  // namespace korv::cli
