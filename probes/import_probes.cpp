#include "probes/import_probes.h"

#include <iostream>

#include <CLI/CLI.hpp>

#include "common/logger.h"
#include "common/scope.h"
#include "exchange/diff.h"
#include "exchange/exchange.h"

namespace korv::cli {

namespace {

ImportProbes command;

const api::ImportMessages kMessages{
    "Provide the probe input file.",
    "Probe input file '%s' does not exists, or is not accessible.",
    "Input file is not a valid probe file.",
    "Input file '%s' does not contain the following fields:\n- version: %s, probes: %s",
    "Input file '%s' does not contain valid formatted data for importing the probes.",
};

}  // namespace

nlohmann::json readProbeFile(api::ImportSource& source, const Place& place) {
  nlohmann::json file = source.Read(kMessages, place);
  if (const std::string missing = source.MissingFields(file, "probes", kMessages);
      !missing.empty()) {
    LOG_INFO << missing;
    source.Refuse(kMessages, place);
  }
  return file;
}

ImportProbes::ImportProbes() : Command("import-probes", 130), out(&std::cout) {}

std::string ImportProbes::Purpose() {
  return "Import the probe(s) into the KORV Server.";
}

void ImportProbes::Init(CLI::App* app) {
  source.AddOption(app, "Probes file");
  app->add_flag_callback(
      "--ignore-existing", [this] { ignoreExisting = true; },
      "Ignore the existing custom probes in the KORV Server.");
  backup.AddBackupOption(
      app,
      "Before importing, write the server's current versions of the custom probes the import "
      "would overwrite to this new file, as a probe export file.");
}

void ImportProbes::Reset() {
  source.Reset();
  ignoreExisting = false;
  backup.ReleaseFile();
}

void ImportProbes::Perform() {
  Scope reset([this] { Reset(); });
  const std::string text = source.ReadText(kMessages, KORV_HERE);
  // A file in the plain case is passed on without parsing it into a document, unless the backup
  // needs the document.
  api::fast::ImportRequest request;
  const bool fast =
      !backup.Named() && request.Prepare(text, "probes", {{"skip_overwrite", ignoreExisting}});
  nlohmann::json file;
  if (!fast) {
    file = source.Parse(text, kMessages, KORV_HERE);
    if (const std::string missing = source.MissingFields(file, "probes", kMessages);
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
    backup.Write(api::backupProbes(connections, file, {ignoreExisting, false}, KORV_HERE),
                 KORV_HERE);
  }
  if (fast) {
    api::sendImport(*connections(), "/probe/custom/import/", request, *out, KORV_HERE);
    return;
  }
  nlohmann::json payload;
  payload["version"] = file.at("version");
  payload["skip_overwrite"] = ignoreExisting;
  payload["probes"] = file.at("probes");
  api::sendImport(*connections(), "/probe/custom/import/", payload, *out, KORV_HERE);
}

}  // namespace korv::cli
