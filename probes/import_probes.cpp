#include "probes/import_probes.h"

#include <iostream>

#include <CLI/CLI.hpp>

#include "common/logger.h"
#include "common/scope.h"
#include "exchange/commands.h"
#include "exchange/result.h"

namespace korv::cli {

namespace {
ImportProbes command;
}  // namespace

ImportProbes::ImportProbes() : Command("import-probes", 130), out(&std::cout) {}

std::string ImportProbes::Purpose() {
  return "Import the probe(s) into the KORV Server.";
}

void ImportProbes::Init(CLI::App* app) {
  source.AddOption(app, "Probes file");
  api::addJsonOption(app, json);
  names.AddOption(app,
                  "Import only the probes of the file whose names match the\n"
                  "pattern (repeatable).");
  app->add_flag_callback(
      "--ignore-existing", [this] { ignoreExisting = true; },
      "Ignore the existing custom probes in the KORV Server.");
  app->add_flag_callback(
      "--strict", [this] { strict = true; }, "Exit with status 5 when an item failed.");
  backup.AddBackupOption(app,
                         "Before importing, write the server's current versions of the\n"
                         "custom probes the import would overwrite to this new file,\n"
                         "as a probe export file.");
}

void ImportProbes::Reset() {
  source.Reset();
  json = false;
  names.Reset();
  ignoreExisting = false;
  strict = false;
  backup.ReleaseFile();
}

void ImportProbes::Perform() {
  Scope reset([this] { Reset(); });
  const bool failed = api::importFile(
      api::kProbes, source, {ignoreExisting, false}, names, backup, *out, json,
      [](const std::string& text) { LOG_INFO << text; }, KORV_HERE);
  if (strict && failed) {
    SetExitStatus(5);
  }
}

}  // namespace korv::cli
