#include "probes/import_probes.h"

#include <iostream>

#include <CLI/CLI.hpp>

#include "api/exchange.h"
#include "common/logger.h"
#include "common/scope.h"

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

ImportProbes::ImportProbes() : Command("import-probes", 130), out(&std::cout) {}

std::string ImportProbes::Purpose() {
  return "Import the probe(s) into the KORV Server.";
}

void ImportProbes::Init(CLI::App* app) {
  source.AddOption(app, "Probes file");
  app->add_flag_callback(
      "--ignore-existing", [this] { ignoreExisting = true; },
      "Ignore the existing custom probes in the KORV Server.");
}

void ImportProbes::Reset() {
  source.Reset();
  ignoreExisting = false;
}

void ImportProbes::Perform() {
  Scope reset([this] { Reset(); });
  const nlohmann::json file = source.Read(kMessages, KORV_HERE);
  const std::string missing = source.MissingFields(file, "probes", kMessages);
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
  payload["skip_overwrite"] = ignoreExisting;
  payload["probes"] = file.at("probes");
  api::sendImport(*connection, "/probe/custom/import/", payload, *out, KORV_HERE);
}

}  // namespace korv::cli
