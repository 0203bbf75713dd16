#include "alert-templates/import_alert_templates.h"

#include <iostream>

#include <CLI/CLI.hpp>

#include "common/logger.h"
#include "common/scope.h"
#include "exchange/diff.h"
#include "exchange/exchange.h"

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

nlohmann::json readAlertTemplateFile(api::ImportSource& source, const Place& place) {
  nlohmann::json file = source.Read(kMessages, place);
  if (const std::string missing = source.MissingFields(file, "alert_templates", kMessages);
      !missing.empty()) {
    LOG_INFO << missing;
    source.Refuse(kMessages, place);
  }
  return file;
}

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
  backup.AddBackupOption(
      app,
      "Before importing, write the server's current versions of the custom alert templates and "
      "probes the import would overwrite to this new file, as an alert template export file.");
}

void ImportCustomAlertTemplates::Reset() {
  source.Reset();
  ignoreExistingProbes = false;
  ignoreExisting = false;
  backup.ReleaseFile();
}

void ImportCustomAlertTemplates::Perform() {
  Scope reset([this] { Reset(); });
  const std::string text = source.ReadText(kMessages, KORV_HERE);
  // A file in the plain case is passed on without parsing it into a document, unless the backup
  // needs the document.
  api::fast::ImportRequest request;
  const bool fast =
      !backup.Named() && request.Prepare(text, "alert_templates",
                                         {{"skip_overwrite", ignoreExisting},
                                          {"skip_overwrite_probe", ignoreExistingProbes}});
  nlohmann::json file;
  if (!fast) {
    file = source.Parse(text, kMessages, KORV_HERE);
    if (const std::string missing = source.MissingFields(file, "alert_templates", kMessages);
        !missing.empty()) {
      LOG_INFO << missing;
      source.Refuse(kMessages, KORV_HERE);
    }
  }
  if (backup.Named()) {
    backup.Open(KORV_HERE);
  }
  const auto connection = api::connect();
  const api::Connections connections = api::sessionConnections(connection);
  if (backup.Named()) {
    // The backup is complete on disk before anything is imported.
    backup.Write(api::backupAlertTemplates(connections, file,
                                           {ignoreExisting, ignoreExistingProbes}, KORV_HERE),
                 KORV_HERE);
  }
  if (fast) {
    api::sendImport(*connections(), "/alert/custom/import/", request, *out, KORV_HERE);
    return;
  }
  nlohmann::json payload;
  payload["version"] = file.at("version");
  payload["skip_overwrite_probe"] = ignoreExistingProbes;
  payload["skip_overwrite"] = ignoreExisting;
  payload["alert_templates"] = file.at("alert_templates");
  api::sendImport(*connections(), "/alert/custom/import/", payload, *out, KORV_HERE);
}

}  // namespace korv::cli
