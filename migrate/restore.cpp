#include "migrate/restore.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <iostream>
#include <optional>
#include <sstream>
#include <string_view>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/global_options.h"
#include "common/logger.h"
#include "common/output.h"
#include "common/scope.h"
#include "common/string_utils.h"
#include "exchange/commands.h"
#include "exchange/exchange.h"
#include "exchange/plan.h"

namespace korv::cli {

namespace {

Restore command;

// The exit status when the server reported an item as failed.
constexpr int kItemsFailed = 5;

// The texts of the result file's errors that reading it can raise.
const api::ImportMessages kResultMessages{"", "Result file '%s' does not exist.", "", "", ""};

// Whether a name is taken in the directory; one that cannot be looked up counts as taken, so
// that reading it reports why. A name taken by anything but a plain file (a FIFO, whose reading
// would wait for a writer, a directory, a device) is refused.
bool exists(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) {
    return errno != ENOENT;
  }
  if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
    throw FileError(string::format("'%s' is not a plain file; nothing was restored.", path),
                    KORV_HERE.function, KORV_HERE.line);
  }
  return true;
}

void logInfo(const std::string& text) {
  LOG_INFO << text;
}

// One backup of the record, read and checked as its import reads it. Its indexes point into its
// text, so it stays where it was read.
struct Backup {
  std::string path;
  bool present;
  std::string text;
  api::ExportIndex items;
  // For alert templates, the probes that the migrate overwrote through them, kept under "probes".
  api::ExportIndex probes;

  explicit Backup(const std::string& path) : path(path), present(exists(path)) {}
  Backup(const Backup&) = delete;
  Backup& operator=(const Backup&) = delete;

  void Read(const api::Kind& kind) {
    if (!present) {
      return;
    }
    api::ImportSource source;
    source.SetFileName({path});
    text = source.ReadText(kind.messages, KORV_HERE);
    items = api::indexFile(kind, source, text, kind.carriedKey, logInfo, KORV_HERE);
    if (kind.CarriesProbes() && !items.Member(api::kProbes.itemsKey).empty()) {
      probes = api::indexFile(api::kProbes, source, text, nullptr, logInfo, KORV_HERE);
    }
  }
};

// The items that the migrate created, as the result tables name them ("Probe 'cpu'"), from the
// record's result; none when the record has no result. A result that is not a migrate's is
// refused.
std::optional<std::vector<std::string>> createdItems(const std::string& path) {
  if (!exists(path)) {
    return std::nullopt;
  }
  api::ImportSource source;
  source.SetFileName({path});
  const std::optional<nlohmann::json> result =
      api::parseText(source.ReadText(kResultMessages, KORV_HERE));
  const FileError refusal(
      string::format("'%s' is not the result of a migration; nothing was restored.", path),
      KORV_HERE.function, KORV_HERE.line);
  if (!result || !result->is_object() || !result->contains("items") ||
      !result->at("items").is_array()) {
    throw refusal;
  }
  std::vector<std::string> created;
  for (const nlohmann::json& item : result->at("items")) {
    const auto text = [&item](const char* key) -> std::optional<std::string> {
      const auto found = item.find(key);
      return found != item.end() && found->is_string() ? found->get<std::string>()
                                                       : std::optional<std::string>();
    };
    if (!item.is_object()) {
      throw refusal;
    }
    const auto name = text("name"), kind = text("kind"), status = text("status");
    const bool probe = kind == api::kProbes.resultKind;
    if (!name || (!probe && kind != api::kAlertTemplates.resultKind) ||
        (item.contains("status") && !status)) {
      throw refusal;
    }
    if (status == "created") {
      created.push_back((probe ? "Probe '" : "Alert template '") + string::printable(*name) + "'");
    }
  }
  return created;
}

// Sends the items through the kind's import, overwriting what the server has (with the probes
// they carry), and prints the verdicts under a heading once they are all read; sends nothing for
// no items. Returns whether an item failed.
bool restoreItems(const api::Connections& connections, const api::Kind& kind,
                  std::string_view version, const std::vector<std::string_view>& items,
                  std::ostream& out) {
  if (items.empty()) {
    return false;
  }
  LOG_INFO << "Restoring the " << kind.name;
  const auto connection = connections();
  api::ObjectWriter body = api::importBody(kind, version, {false, false}, items);
  api::post(*connection, kind.importPath, body, KORV_HERE);
  std::stringstream table;
  const std::vector<api::Verdict> verdicts = api::printVerdicts(*connection, &table, KORV_HERE);
  api::printUnder(out, "Import of the " + std::string(kind.name) + ":", table, KORV_HERE);
  return std::any_of(verdicts.begin(), verdicts.end(), [&kind](const api::Verdict& verdict) {
    return api::itemFailed(kind, verdict);
  });
}

}  // namespace

Restore::Restore() : Command("restore", 310), out(&std::cout) {}

std::string Restore::Purpose() {
  return "Put back what a migrate overwrote on its target, from its record.";
}

void Restore::Init(CLI::App* app) {
  app->add_option("--to", to,
                  "Server to restore (a name in the configuration file); without it, the\n"
                  "connection options name the server.")
      ->type_name("NAME")
      ->trigger_on_parse()
      ->each([](const std::string& name) { chooseServer(name); });
  app->add_option("--dir", dir, "Record directory of the migrate.")->type_name("DIR")->required();
  app->footer(
      "Examples:\n"
      "  korv-cli restore --to new --dir migration-1\n"
      "  korv-cli -p https://new.example.com:8443/korv -u admin restore --dir migration-1\n");
}

void Restore::Reset() {
  to.clear();
  dir.clear();
}

void Restore::Perform() {
  Scope reset([this] { Reset(); });
  // The record is read and checked whole before the login: a record that cannot be used changes
  // nothing.
  struct stat info {};
  if (::stat(dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    throw UsageError(UsageError::Kind::Value,
                     string::format("'%s' is not a directory; name the record directory of a "
                                    "migrate.",
                                    string::printable(dir)));
  }
  Backup probes(dir + "/backup-probes.json");
  Backup templates(dir + "/backup-alert-templates.json");
  if (!probes.present && !templates.present) {
    throw UsageError(UsageError::Kind::Value,
                     string::format("'%s' holds no backup-probes.json or "
                                    "backup-alert-templates.json (a dry run writes none); "
                                    "nothing to restore.",
                                    string::printable(dir)));
  }
  const auto created = createdItems(dir + "/result.json");
  probes.Read(api::kProbes);
  templates.Read(api::kAlertTemplates);

  // The probes go first, so that each template finds the probes it depends on: those of the
  // probe backup, and those overwritten through the templates that it does not hold.
  std::vector<std::string_view> names;
  std::vector<std::string_view> probeItems;
  for (const api::ItemText& item : probes.items.Items()) {
    probeItems.push_back(item.text);
    names.push_back(item.name);
  }
  std::sort(names.begin(), names.end());
  for (const api::ItemText& item : templates.probes.Items()) {
    if (!item.named || !std::binary_search(names.begin(), names.end(), item.name)) {
      probeItems.push_back(item.text);
    }
  }
  std::vector<std::string_view> templateItems;
  for (const api::ItemText& item : templates.items.Items()) {
    templateItems.push_back(item.text);
  }

  LOG_INFO << "Restoring the record in '" << dir << "'";
  const api::Connections connections = api::sessionConnections(api::connect());
  const bool probeFailed =
      restoreItems(connections, api::kProbes,
                   (probes.present ? probes : templates).items.Member("version"), probeItems, *out);
  const bool templateFailed = restoreItems(connections, api::kAlertTemplates,
                                           templates.items.Member("version"), templateItems, *out);

  if (!created) {
    *out << "The record holds no result.json; the items the migration created are not known."
         << std::endl;
  } else if (!created->empty()) {
    *out << "Created by the migration; a restore does not remove them:" << std::endl;
    for (const std::string& item : *created) {
      *out << item << '\n';
    }
    *out << std::flush;
  }
  checkStandardOutput(*out, KORV_HERE);
  if (probeFailed || templateFailed) {
    SetExitStatus(kItemsFailed);
  }
}

}  // namespace korv::cli
