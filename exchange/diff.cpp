#include "exchange/diff.h"

#include <curl/curl.h>

#include <map>
#include <set>
#include <utility>

#include "common/output.h"
#include "common/string_utils.h"
#include "connection/rest_api.h"
#include "connection/settings.h"
#include "exchange/exchange.h"
#include "records/compact_json.h"

namespace korv::cli::api {

namespace {

using nlohmann::json;

constexpr char kProbes[] = "probes";
constexpr char kTemplates[] = "alert_templates";
// The member of an exported alert template that carries the custom probes it depends on.
constexpr char kCarriedProbes[] = "custom_probes";

// Items of one kind by name: the last item of each name (the one an import that overwrites
// leaves in place), the names in the order in which they first appear.
struct Named {
  std::vector<std::string> names;
  std::map<std::string, const json*> items;

  void Add(const std::string& name, const json& item) {
    if (items.emplace(name, &item).second) {
      names.push_back(name);
    } else {
      items[name] = &item;
    }
  }
};

// What the server holds, as its exports of all custom items, and the comparison with the file.
struct Comparison {
  json probeExport;
  json templateExport;  // null when comparing probes
  DiffResult result;
};

Named serverItems(const json& answer, const char* itemsKey) {
  Named named;
  for (const json& item : answer.at(itemsKey)) {
    named.Add(item.at("name").get<std::string>(), item);
  }
  return named;
}

const json& fileItems(const json& holder, const char* key, const std::string& owner,
                      const Place& place) {
  const json& items = holder.at(key);
  if (!items.is_array()) {
    throw FileError(
        string::format("%s has a member '%s' that is not an array of items.", owner, key),
        place.function, place.line);
  }
  return items;
}

std::string fileItemName(const json& item, std::size_t position, const std::string& owner,
                         const Place& place) {
  if (item.is_object()) {
    const auto name = item.find("name");
    if (name != item.end() && name->is_string()) {
      return name->get<std::string>();
    }
  }
  throw FileError(string::format("Item %lu of %s has no name to compare it by.",
                                 static_cast<unsigned long>(position + 1), owner),
                  place.function, place.line);
}

// The fields whose values differ, a field that only one side has included; fields the server
// assigns, and the probes a template carries, are not compared.
std::vector<std::string> differingFields(const json& mine, const json& theirs) {
  std::set<std::string> keys;
  for (const json* item : {&mine, &theirs}) {
    for (const auto& member : item->items()) {
      keys.insert(member.key());
    }
  }
  keys.erase("id");
  keys.erase(kCarriedProbes);
  std::vector<std::string> fields;
  for (const auto& key : keys) {
    const auto own = mine.find(key);
    const auto other = theirs.find(key);
    if (own == mine.end() || other == theirs.end() || *own != *other) {
      fields.push_back(key);
    }
  }
  return fields;
}

void compare(const Named& file, const Named& server, bool ignoreExisting, bool carriedProbes,
             std::vector<DiffRow>& rows) {
  for (const auto& name : file.names) {
    DiffRow row{name, Change::New, {}, carriedProbes};
    const auto existing = server.items.find(name);
    if (existing != server.items.end()) {
      if (ignoreExisting) {
        row.change = Change::Skipped;
      } else {
        row.fields = differingFields(*file.items.at(name), *existing->second);
        row.change = row.fields.empty() ? Change::Unchanged : Change::Changed;
      }
    }
    rows.push_back(std::move(row));
  }
}

void addServerOnly(const Named& file, const Named& server, std::vector<DiffRow>& rows) {
  for (const auto& name : server.names) {
    if (file.items.count(name) == 0) {
      rows.push_back(DiffRow{name, Change::ServerOnly, {}, false});
    }
  }
}

// The major number of an export's "version" ("11" of "11.0", leading zeros dropped); "" when the
// version is not a string that starts with one.
std::string majorVersion(const json& document) {
  const auto version = document.find("version");
  if (version == document.end() || !version->is_string()) {
    return "";
  }
  const std::string& text = version->get_ref<const std::string&>();
  const std::string head = text.substr(0, text.find('.'));
  if (head.empty() || head.find_first_not_of("0123456789") != std::string::npos) {
    return "";
  }
  const std::size_t first = head.find_first_not_of('0');
  return first == std::string::npos ? "0" : head.substr(first);
}

// The server imports only data of its own major version: a file of another one would be refused
// whole, so no change of the comparison would come about.
void checkVersions(const json& file, const json& serverExport, const Place& place) {
  const std::string mine = majorVersion(file), theirs = majorVersion(serverExport);
  if (mine.empty() || theirs.empty() || mine == theirs) {
    return;
  }
  throw Error(place.function, place.line, "Version mismatch",
              string::format("The data comes from server version %s and the KORV Server at '%s' "
                             "is version %s: it imports data of its own major version only.",
                             string::printable(file.at("version").get<std::string>()),
                             string::hideUserInfo(url),
                             string::printable(serverExport.at("version").get<std::string>())));
}

Comparison compareProbes(const Connections& connections, const json& file,
                         const DiffOptions& options, const Place& place) {
  Named mine;
  const json& items = fileItems(file, kProbes, "The input file", place);
  for (std::size_t i = 0; i < items.size(); ++i) {
    mine.Add(fileItemName(items[i], i, "the input file", place), items[i]);
  }
  Comparison comparison;
  comparison.probeExport = exportAll(connections, "/probe/custom/export/", kProbes, place);
  checkVersions(file, comparison.probeExport, place);
  const Named theirs = serverItems(comparison.probeExport, kProbes);
  compare(mine, theirs, options.ignoreExisting, false, comparison.result.rows);
  addServerOnly(mine, theirs, comparison.result.rows);
  return comparison;
}

// The templates of an alert template file, and the probes they carry.
void readTemplateFile(const json& file, Named& templates, Named& probes, const Place& place) {
  const json& items = fileItems(file, kTemplates, "The input file", place);
  for (std::size_t i = 0; i < items.size(); ++i) {
    const std::string name = fileItemName(items[i], i, "the input file", place);
    templates.Add(name, items[i]);
    if (!items[i].contains(kCarriedProbes)) {
      continue;
    }
    const std::string owner = "alert template '" + name + "' in the input file";
    const json& carried = fileItems(items[i], kCarriedProbes, "The " + owner, place);
    for (std::size_t j = 0; j < carried.size(); ++j) {
      probes.Add(fileItemName(carried[j], j, "the probes of the " + owner, place), carried[j]);
    }
  }
}

Comparison compareTemplates(const Connections& connections, const json& file,
                            const DiffOptions& options, const Place& place) {
  Named templates;
  Named probes;
  readTemplateFile(file, templates, probes, place);
  Comparison comparison;
  comparison.templateExport = exportAll(connections, "/alert/custom/export/", kTemplates, place);
  checkVersions(file, comparison.templateExport, place);
  comparison.probeExport = exportAll(connections, "/probe/custom/export/", kProbes, place);
  const Named serverTemplates = serverItems(comparison.templateExport, kTemplates);
  auto& rows = comparison.result.rows;
  compare(templates, serverTemplates, options.ignoreExisting, false, rows);
  compare(probes, serverItems(comparison.probeExport, kProbes), options.ignoreExistingProbes, true,
          rows);
  addServerOnly(templates, serverTemplates, rows);
  return comparison;
}

// The exported items that an import overwrites: those it finds on the server and does not skip.
json overwritten(const json& exported, const char* itemsKey, const DiffResult& result,
                 bool carriedProbes) {
  std::set<std::string> names;
  for (const auto& row : result.rows) {
    if (row.carriedProbe == carriedProbes &&
        (row.change == Change::Changed || row.change == Change::Unchanged)) {
      names.insert(row.name);
    }
  }
  json items = json::array();
  for (const json& item : exported.at(itemsKey)) {
    if (names.count(item.at("name").get<std::string>()) != 0) {
      items.push_back(item);
    }
  }
  return items;
}

std::string detail(const DiffRow& row) {
  switch (row.change) {
    case Change::New:
      return "not on the server";
    case Change::Changed:
      break;
    case Change::Unchanged:
      return "same as on the server";
    case Change::Skipped:
      return "exists and is kept";
    case Change::ServerOnly:
      return "left alone by the import";
  }
  std::string fields;
  for (const auto& field : row.fields) {
    if (!fields.empty()) {
      fields += ' ';
    }
    fields += string::printable(field);
  }
  return fields;
}

}  // namespace

void post(web::WebConnection& connection, const std::string& path, const json& payload,
          const Place& place) {
  postJson(connection, path, payload);
  // A transport failure leaves libcurl's result code where an answer's status would be.
  const long code = connection.ResponseCode();
  if (code >= 100) {
    return;
  }
  std::string reason = curl_easy_strerror(static_cast<CURLcode>(code));
  if (code == CURLE_OPERATION_TIMEDOUT) {
    reason += " (" + connection.DescribeTimeouts() + ")";
  }
  throw Error(place.function, place.line, "Transport failure",
              string::format("The exchange with the KORV Server at '%s' failed: %s.",
                             string::hideUserInfo(url), reason));
}

json exportAll(const Connections& connections, const char* path, const char* itemsKey,
               const Place& place) {
  const auto connection = connections();
  post(*connection, path, json{{itemsKey, json::array()}}, place);
  json answer = parseResponse(*connection, place);
  checkStatus(*connection, answer, FailureReport::HTTPError, place);
  readAnswer(place, [&] {
    answer.at("version");
    for (const json& item : answer.at(itemsKey).get_ref<const json::array_t&>()) {
      item.at("name").get_ref<const std::string&>();
    }
  });
  return answer;
}

Connections sessionConnections(std::shared_ptr<web::WebConnection> first) {
  return [first = std::move(first)]() mutable -> std::shared_ptr<web::WebConnection> {
    if (first) {
      return std::exchange(first, nullptr);
    }
    return std::make_shared<RESTAPIConn>(kApiVersion);
  };
}

const char* changeText(Change change) {
  switch (change) {
    case Change::New:
      return "new";
    case Change::Changed:
      return "changed";
    case Change::Unchanged:
      return "unchanged";
    case Change::Skipped:
      return "skipped";
    case Change::ServerOnly:
      return "server only";
  }
  return "";
}

bool DiffResult::WouldChange() const {
  for (const auto& row : rows) {
    if (row.change == Change::New || row.change == Change::Changed) {
      return true;
    }
  }
  return false;
}

DiffResult diffProbes(const Connections& connections, const json& file, const DiffOptions& options,
                      const Place& place) {
  return compareProbes(connections, file, options, place).result;
}

DiffResult diffAlertTemplates(const Connections& connections, const json& file,
                              const DiffOptions& options, const Place& place) {
  return compareTemplates(connections, file, options, place).result;
}

json carriedProbes(const json& file, const Place& place) {
  Named templates;
  Named probes;
  readTemplateFile(file, templates, probes, place);
  json items = json::array();
  for (const auto& name : probes.names) {
    items.push_back(*probes.items.at(name));
  }
  return items;
}

json backupProbes(const Connections& connections, const json& file, const DiffOptions& options,
                  const Place& place) {
  const Comparison comparison = compareProbes(connections, file, options, place);
  json backup = comparison.probeExport;
  backup[kProbes] = overwritten(comparison.probeExport, kProbes, comparison.result, false);
  return backup;
}

json backupAlertTemplates(const Connections& connections, const json& file,
                          const DiffOptions& options, const Place& place) {
  const Comparison comparison = compareTemplates(connections, file, options, place);
  json backup = comparison.templateExport;
  backup[kTemplates] = overwritten(comparison.templateExport, kTemplates, comparison.result, false);
  backup[kProbes] = overwritten(comparison.probeExport, kProbes, comparison.result, true);
  return backup;
}

void printDiff(std::ostream& out, const DiffResult& result, const Place& place) {
  if (result.rows.empty()) {
    return;
  }
  out << "Name, Change, Detail" << std::endl;
  out << "====, ======, ======" << std::endl;
  checkStandardOutput(out, place);
  for (const auto& row : result.rows) {
    const std::string name = string::printable(row.name);
    out << (row.carriedProbe ? "Probe '" + name + "'" : name) << ", " << changeText(row.change)
        << ", " << detail(row) << std::endl;
    checkStandardOutput(out, place);
  }
}

}  // namespace korv::cli::api
