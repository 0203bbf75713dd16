#include "exchange/commands.h"

#include <fnmatch.h>

#include <algorithm>

#include <CLI/CLI.hpp>

#include "common/string_utils.h"
#include "exchange/plan.h"
#include "exchange/result.h"
#include "records/fast_json.h"

namespace korv::cli::api {

namespace {

// A file without "version" or the items is logged and refused.
void checkFile(const Kind& kind, const ImportSource& source, const nlohmann::json& file,
               const Log& log, const Place& place) {
  if (const std::string missing = source.MissingFields(file, kind.itemsKey, kind.messages);
      !missing.empty()) {
    log(missing);
    source.Refuse(kind.messages, place);
  }
}

}  // namespace

ExportIndex indexFile(const Kind& kind, const ImportSource& source, const std::string& text,
                      const char* carriedKey, const Log& log, const Place& place) {
  ExportIndex index;
  if (!index.Read(text, text.capacity() - text.size(), nullptr, kind.itemsKey, carriedKey)) {
    const nlohmann::json file = source.Parse(text, kind.messages, place);
    checkFile(kind, source, file, log, place);
    index.Take(file, kind.itemsKey, carriedKey);
  }
  return index;
}

bool itemFailed(const Kind& kind, const Verdict& verdict) {
  const std::string& status = verdict.status;
  if (status != "created" && status != "overwritten" && status != "skipped" &&
      status != "unchanged") {
    return true;
  }
  if (!kind.CarriesProbes()) {
    return false;
  }
  const std::vector<Verdict> probes = carriedVerdicts(verdict.reason);
  return std::any_of(probes.begin(), probes.end(),
                     [](const Verdict& probe) { return probe.status == "failed"; });
}

namespace {

// The file's text, as its import reads it, with only the items that match the names.
nlohmann::json pickFile(const Kind& kind, const ImportSource& source, const std::string& text,
                        const NameFilter& names, const Log& log, const Place& place) {
  nlohmann::json file = source.Parse(text, kind.messages, place);
  checkFile(kind, source, file, log, place);
  names.Pick(kind, file, place);
  return file;
}

}  // namespace

void NameFilter::AddOption(CLI::App* app, const std::string& description) {
  app->add_option(
         "--name",
         [this](const CLI::results_t& values) {
           patterns.insert(patterns.end(), values.begin(), values.end());
           return true;
         },
         description)
      ->type_name("PATTERN")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
}

bool NameFilter::Matches(std::string_view name) const {
  const std::string text(name);
  return patterns.empty() ||
         std::any_of(patterns.begin(), patterns.end(), [&](const std::string& pattern) {
           return fnmatch(pattern.c_str(), text.c_str(), 0) == 0;
         });
}

void NameFilter::Pick(const Kind& kind, nlohmann::json& document, const Place& place) const {
  if (patterns.empty()) {
    return;
  }
  std::vector<bool> matched(patterns.size(), false);
  keep(kind, document, matched);
  Refuse(matched, kind.itemName, place);
}

ExportIndex NameFilter::Keep(const Kind& kind, const ExportIndex& index,
                             std::vector<bool>& matched) const {
  std::string text;
  index.Write(kind.itemsKey, [&text](std::string_view part) { text.append(part); });
  nlohmann::json document = nlohmann::json::parse(text);
  keep(kind, document, matched);
  ExportIndex kept;
  kept.Take(document, kind.itemsKey, kind.carriedKey);
  return kept;
}

void NameFilter::Refuse(const std::vector<bool>& matched, const std::string& items,
                        const Place& place) const {
  for (std::size_t i = 0; i < patterns.size(); ++i) {
    if (!matched[i]) {
      throw Error(place.function, place.line, "Error",
                  string::format("No %s matches '%s'.", items, string::printable(patterns[i])));
    }
  }
}

void NameFilter::keep(const Kind& kind, nlohmann::json& document,
                      std::vector<bool>& matched) const {
  nlohmann::json& items = document.at(kind.itemsKey);
  nlohmann::json picked = nlohmann::json::array();
  for (nlohmann::json& item : items) {
    const auto name = item.is_object() ? item.find("name") : item.end();
    if (!item.is_object() || name == item.end() || !name->is_string()) {
      continue;
    }
    const std::string& text = name->get_ref<const std::string&>();
    bool taken = false;
    for (std::size_t i = 0; i < patterns.size(); ++i) {
      if (fnmatch(patterns[i].c_str(), text.c_str(), 0) == 0) {
        matched[i] = taken = true;
      }
    }
    if (taken) {
      picked.push_back(std::move(item));
    }
  }
  items = std::move(picked);
}

void NameFilter::Narrow(Plan& plan) const {
  plan.rows.erase(std::remove_if(plan.rows.begin(), plan.rows.end(),
                                 [this](const Row& row) {
                                   return row.change == Change::ServerOnly && !Matches(row.Name());
                                 }),
                  plan.rows.end());
}

void exportItems(const Kind& kind, const std::set<std::uint32_t>& ids, const NameFilter& names,
                 ExportDestination& destination, const Place& place) {
  destination.Open(place);
  const auto connection = connect();
  postJson(*connection, kind.exportPath, {{kind.itemsKey, ids}});
  if (names.Empty() && destination.WriteFast(*connection, kind.itemsKey, place)) {
    return;
  }
  nlohmann::json answer = parseResponse(*connection, place);
  checkStatus(*connection, answer, kind.exportFailure, place);
  checkExport(answer, kind.itemsKey, place);
  names.Pick(kind, answer, place);
  destination.Write(answer, place);
}

nlohmann::json readExportFile(const Kind& kind, ImportSource& source, const Log& log,
                              const Place& place) {
  nlohmann::json file = source.Read(kind.messages, place);
  checkFile(kind, source, file, log, place);
  return file;
}

nlohmann::json importPayload(const Kind& kind, const nlohmann::json& version,
                             const Switches& switches, nlohmann::json items) {
  nlohmann::json payload{{"version", version},
                         {kSkipOverwrite, switches.ignoreExisting},
                         {kind.itemsKey, std::move(items)}};
  if (kind.CarriesProbes()) {
    payload[kind.carriedSwitch] = switches.ignoreExistingProbes;
  }
  return payload;
}

ObjectWriter importBody(const Kind& kind, std::string_view version, const Switches& switches,
                        const std::vector<std::string_view>& items) {
  std::vector<ObjectMember> members{{"version", version},
                                    {kSkipOverwrite, switches.ignoreExisting ? "true" : "false"},
                                    {kind.itemsKey, {}, &items}};
  if (kind.CarriesProbes()) {
    members.push_back({kind.carriedSwitch, switches.ignoreExistingProbes ? "true" : "false"});
  }
  return ObjectWriter(std::move(members));
}

bool importFile(const Kind& kind, ImportSource& source, const Switches& switches,
                const NameFilter& names, ExportDestination& backup, std::ostream& out, bool json,
                const Log& log, const Place& place) {
  const std::string text = source.ReadText(kind.messages, place);
  // A file in the plain case is passed on without parsing it into a document.
  fast::ImportRequest request;
  std::vector<std::pair<std::string_view, bool>> flags{{kSkipOverwrite, switches.ignoreExisting}};
  if (kind.CarriesProbes()) {
    flags.emplace_back(kind.carriedSwitch, switches.ignoreExistingProbes);
  }
  const bool fast = names.Empty() && request.Prepare(text, kind.itemsKey, flags);
  nlohmann::json file;
  if (!fast) {
    file = pickFile(kind, source, text, names, log, place);
  }
  if (backup.Named()) {
    backup.Open(place);
  }
  const Connections connections = sessionConnections(connect());
  if (backup.Named()) {
    // The backup is complete on disk before anything is imported. An import that keeps the
    // server's probes overwrites none that the items carry: the backup then needs neither those
    // probes nor the server's export of probes.
    const char* carriedKey = switches.ignoreExistingProbes ? nullptr : kind.carriedKey;
    ExportIndex index;
    if (names.Empty()) {
      index = indexFile(kind, source, text, carriedKey, log, place);
    } else {
      index.Take(file, kind.itemsKey, carriedKey);
    }
    Target target(connections, place);
    const Plan plan = makePlan(kind, index, target, switches, nullptr, place);
    backup.WriteParts([&](const Sink& write) { api::backup(plan, target, write); }, place);
  }
  std::ostream* tables = json ? nullptr : &out;
  const std::vector<Verdict> verdicts =
      fast ? sendImport(*connections(), kind.importPath, request, tables, place)
           : sendImport(*connections(), kind.importPath,
                        importPayload(kind, file.at("version"), switches, file.at(kind.itemsKey)),
                        tables, place);
  if (json) {
    ResultWriter result(streamSink(out, place));
    writeVerdicts(result, kind, verdicts);
    result.Finish();
  }
  return std::any_of(verdicts.begin(), verdicts.end(),
                     [&kind](const Verdict& verdict) { return itemFailed(kind, verdict); });
}

bool diffFile(const Kind& kind, ImportSource& source, const Switches& switches,
              const NameFilter& names, std::ostream& out, bool json, const Log& log,
              const Place& place) {
  const std::string text = source.ReadText(kind.messages, place);
  ExportIndex file;
  if (names.Empty()) {
    file = indexFile(kind, source, text, kind.carriedKey, log, place);
  } else {
    file.Take(pickFile(kind, source, text, names, log, place), kind.itemsKey, kind.carriedKey);
  }
  Target target(sessionConnections(connect()), place);
  Plan plan = makePlan(kind, file, target, switches, nullptr, place);
  names.Narrow(plan);
  if (json) {
    ResultWriter result(streamSink(out, place));
    for (const Row& row : plan.rows) {
      std::string item = "{";
      appendPlanMembers(item, plan, row, row.Name());
      result.CompactItem(item + "}");
    }
    result.Finish();
  } else {
    printPlan(out, plan, place);
  }
  return plan.WouldChange();
}

}  // namespace korv::cli::api
