#include "migrate/migrate.h"

#include <ctime>
#include <filesystem>
#include <iostream>
#include <map>
#include <system_error>

#include <CLI/CLI.hpp>

#include "api/diff.h"
#include "api/exchange.h"
#include "api/session.h"
#include "cli/global_options.h"
#include "common/logger.h"
#include "common/scope.h"
#include "common/string_utils.h"

namespace korv::cli {

namespace {

Migrate command;

// The exit status when the target reported an item as failed.
constexpr int kItemsFailed = 5;

// One kind of record: where it is exported and imported, and the files it leaves.
struct Kind {
  const char* name;  // as --only names it
  const char* itemsKey;
  const char* exportPath;
  const char* importPath;
  const char* file;
  const char* backupFile;
};

constexpr Kind kProbes{"probes",
                       "probes",
                       "/probe/custom/export/",
                       "/probe/custom/import/",
                       "probes.json",
                       "backup-probes.json"};
constexpr Kind kTemplates{"alert-templates",       "alert_templates",
                          "/alert/custom/export/", "/alert/custom/import/",
                          "alert-templates.json",  "backup-alert-templates.json"};

std::string defaultDirectory() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char name[64];
  std::strftime(name, sizeof name, "korv-migration-%Y%m%d-%H%M%S", &local);
  return name;
}

// The record directory: made when missing; an existing one must be an empty directory, so that
// no earlier record is mixed in or overwritten.
void prepareDirectory(const std::string& dir) {
  namespace fs = std::filesystem;
  std::error_code error;
  if (fs::exists(fs::symlink_status(dir, error))) {
    if (!fs::is_directory(dir, error) || !fs::is_empty(dir, error) || error) {
      throw CLI::ValidationError(
          string::format("Directory '%s' is not empty; name a new or empty directory.", dir));
    }
    return;
  }
  if (!fs::create_directories(dir, error)) {
    throw CLI::ValidationError(string::format("Cannot create the directory '%s'.", dir));
  }
}

void writeFile(const std::string& path, const nlohmann::json& content) {
  api::ExportDestination destination;
  destination.SetFileName({path});
  destination.Open(KORV_HERE);
  destination.Write(content, KORV_HERE);
}

// Makes the other connection current and keeps the current one in its place.
void swapConnection(api::Connection& other) {
  api::Connection now = api::current();
  api::activate(other);
  other = std::move(now);
}

}  // namespace

Migrate::Migrate() : Command("migrate", 300), out(&std::cout) {}

std::string Migrate::Purpose() {
  return "Move the custom probes and alert templates of one named server to another.";
}

void Migrate::Init(CLI::App* app) {
  app->add_option("--from", from, "Server to migrate from (a name in the configuration file).")
      ->type_name("NAME")
      ->required()
      ->trigger_on_parse()
      ->each([](const std::string& name) { chooseServer(name); });
  app->add_option("--to", to, "Server to migrate to (a name in the configuration file).")
      ->type_name("NAME")
      ->required();
  app->add_option("--dir", dir,
                  "New or empty directory for the exported files and the target's backups\n"
                  "(default: korv-migration-YYYYMMDD-HHMMSS).")
      ->type_name("DIR");
  app->add_flag("--dry-run", dryRun,
                "Only show what would change; exit status 3 when something would.");
  app->add_option("--only", only, "Migrate one kind only.")
      ->check(CLI::IsMember({kProbes.name, kTemplates.name}));
  app->add_flag("--ignore-existing", ignoreExisting,
                "Keep the probes and alert templates that the target already has.");
}

void Migrate::Reset() {
  from.clear();
  to.clear();
  dir.clear();
  only.clear();
  dryRun = false;
  ignoreExisting = false;
}

void Migrate::Perform() {
  Scope reset([this] { Reset(); });
  const std::string directory = dir.empty() ? defaultDirectory() : dir;
  std::vector<const Kind*> kinds;
  for (const Kind* kind : {&kProbes, &kTemplates}) {
    if (only.empty() || only == kind->name) {
      kinds.push_back(kind);
    }
  }

  if (from == to) {
    throw CLI::ValidationError(
        string::format("--from and --to name the same server '%s'; nothing to migrate.", from));
  }
  // The run's settings are those of the source (--from chose it); the target's are read alike.
  api::Connection target = api::current();
  loadServer(to);
  swapConnection(target);
  prepareDirectory(directory);

  // Both tokens are given back however the run ends; the run's own release then has nothing to do.
  Scope release([&target] {
    api::finish();
    swapConnection(target);
    api::finish();
    api::resetConnectionSettings();
  });
  LOG_INFO << string::format("Migrating from '%s' to '%s', record in '%s'", from, to, directory);
  const auto sourceConnection = api::connect();
  if (!sourceConnection) {
    return;
  }
  swapConnection(target);
  const auto targetConnection = api::connect();
  if (!targetConnection) {
    return;
  }
  const api::Connections toTarget = api::sessionConnections(targetConnection);
  swapConnection(target);
  const api::Connections toSource = api::sessionConnections(sourceConnection);

  std::map<const Kind*, nlohmann::json> files;
  for (const Kind* kind : kinds) {
    LOG_INFO << string::format("Exporting the %s of '%s'", kind->name, from);
    files[kind] = api::exportAll(toSource, kind->exportPath, kind->itemsKey, KORV_HERE);
    writeFile(directory + "/" + kind->file, files[kind]);
  }
  swapConnection(target);

  // The probes go first, so the alert templates need not overwrite the probes they carry.
  const bool probesFirst = kinds.front() == &kProbes;
  const auto options = [&](const Kind* kind) {
    return api::DiffOptions{ignoreExisting, kind == &kTemplates && probesFirst};
  };
  bool wouldChange = false;
  for (const Kind* kind : kinds) {
    LOG_INFO << string::format("Comparing the %s with '%s'", kind->name, to);
    *out << "Diff of the " << kind->name << ":" << std::endl;
    const api::DiffResult result =
        kind == &kProbes ? api::diffProbes(toTarget, files[kind], options(kind), KORV_HERE)
                         : api::diffAlertTemplates(toTarget, files[kind], options(kind), KORV_HERE);
    api::printDiff(*out, result, KORV_HERE);
    wouldChange = wouldChange || result.WouldChange();
  }
  if (dryRun) {
    SetExitStatus(wouldChange ? 3 : 0);
    return;
  }

  for (const Kind* kind : kinds) {
    LOG_INFO << string::format("Backing up the %s of '%s'", kind->name, to);
    writeFile(directory + "/" + kind->backupFile,
              kind == &kProbes
                  ? api::backupProbes(toTarget, files[kind], options(kind), KORV_HERE)
                  : api::backupAlertTemplates(toTarget, files[kind], options(kind), KORV_HERE));
  }
  std::map<std::string, int> counts;
  for (const Kind* kind : kinds) {
    LOG_INFO << string::format("Importing the %s into '%s'", kind->name, to);
    nlohmann::json payload;
    payload["version"] = files[kind].at("version");
    payload["skip_overwrite"] = ignoreExisting;
    if (kind == &kTemplates) {
      payload["skip_overwrite_probe"] = options(kind).ignoreExistingProbes;
    }
    payload[kind->itemsKey] = files[kind].at(kind->itemsKey);
    *out << "Import of the " << kind->name << ":" << std::endl;
    for (const std::string& status :
         api::sendImport(*toTarget(), kind->importPath, payload, *out, KORV_HERE)) {
      ++counts[status];
    }
  }
  std::string summary;
  for (const auto& [status, count] : counts) {
    summary += (summary.empty() ? "" : ", ") + std::to_string(count) + " " + status;
  }
  *out << "Migrated from '" << from << "' to '" << to
       << "': " << (summary.empty() ? "nothing to import" : summary) << "." << std::endl;
  LOG_INFO << "Migration summary: " << summary;
  for (const auto& [status, count] : counts) {
    if (status != "created" && status != "overwritten" && status != "skipped") {
      SetExitStatus(kItemsFailed);
    }
  }
}

}  // namespace korv::cli
