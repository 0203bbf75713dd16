#include "exchange/plan.h"

#include <curl/curl.h>

#include <algorithm>
#include <limits>
#include <set>
#include <utility>

#include "common/output.h"
#include "common/string_utils.h"
#include "connection/rest_api.h"
#include "connection/settings.h"
#include "exchange/exchange.h"

namespace korv::cli::api {

namespace {

using nlohmann::json;

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

// The items of a file, and the probes they carry.
void readFile(const Kind& kind, const json& file, Named& items, Named& probes, const Place& place) {
  const json& list = fileItems(file, kind.itemsKey, "The input file", place);
  for (std::size_t i = 0; i < list.size(); ++i) {
    const std::string name = fileItemName(list[i], i, "the input file", place);
    items.Add(name, list[i]);
    if (!kind.CarriesProbes() || !list[i].contains(kind.carriedKey)) {
      continue;
    }
    const std::string owner = "alert template '" + name + "' in the input file";
    const json& carried = fileItems(list[i], kind.carriedKey, "The " + owner, place);
    for (std::size_t j = 0; j < carried.size(); ++j) {
      probes.Add(fileItemName(carried[j], j, "the probes of the " + owner, place), carried[j]);
    }
  }
}

// The fields whose values differ, a field that only one side has included; fields the server
// assigns, and the probes an item carries, are not compared.
std::vector<std::string> differingFields(const json& mine, const json& theirs) {
  std::set<std::string> keys;
  for (const json* item : {&mine, &theirs}) {
    for (const auto& member : item->items()) {
      keys.insert(member.key());
    }
  }
  keys.erase("id");
  keys.erase(kAlertTemplates.carriedKey);
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

// Adds a row for each item of the file, given the server's version of an item by name.
template <typename Version>
void compare(const Named& file, Version version, bool ignoreExisting, bool carriedProbes,
             std::vector<Row>& rows) {
  for (const auto& name : file.names) {
    const json* item = file.items.at(name);
    Row row{name, Change::New, {}, carriedProbes, item};
    if (const json* existing = version(name)) {
      if (ignoreExisting) {
        row.change = Change::Skipped;
      } else {
        row.fields = differingFields(*item, *existing);
        row.change = row.fields.empty() ? Change::Unchanged : Change::Changed;
      }
    }
    rows.push_back(std::move(row));
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

// The item of a row that a plan sends, by name; none when the plan does not send it.
const json* sentItem(const Plan* plan, const std::string& name) {
  if (plan != nullptr) {
    for (const Row& row : plan->rows) {
      if (!row.carriedProbe && row.name == name && plan->Sends(row)) {
        return row.item;
      }
    }
  }
  return nullptr;
}

// The id of an exported item, for the order of the server's export; last when it has none.
std::uint64_t exportOrder(const json* item) {
  const auto id = item->find("id");
  return id != item->end() && id->is_number_unsigned() ? id->get<std::uint64_t>()
                                                       : std::numeric_limits<std::uint64_t>::max();
}

std::string detail(const Row& row) {
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

json exportAll(const Connections& connections, const Kind& kind, const Place& place) {
  const auto connection = connections();
  post(*connection, kind.exportPath, json{{kind.itemsKey, json::array()}}, place);
  json answer = parseResponse(*connection, place);
  checkStatus(*connection, answer, FailureReport::HTTPError, place);
  readAnswer(place, [&] {
    answer.at("version");
    for (const json& item : answer.at(kind.itemsKey).get_ref<const json::array_t&>()) {
      item.at("name").get_ref<const std::string&>();
    }
  });
  return answer;
}

Connections sessionConnections(std::shared_ptr<web::WebConnection> first) {
  // Copies hand out the first connection once between them.
  auto unused = std::make_shared<std::shared_ptr<web::WebConnection>>(std::move(first));
  return [unused]() -> std::shared_ptr<web::WebConnection> {
    if (*unused) {
      return std::exchange(*unused, nullptr);
    }
    return std::make_shared<RESTAPIConn>(kApiVersion);
  };
}

void Named::Add(const std::string& name, const json& item) {
  if (items.emplace(name, &item).second) {
    names.push_back(name);
  } else {
    items[name] = &item;
  }
}

const json* Named::Find(const std::string& name) const {
  const auto found = items.find(name);
  return found == items.end() ? nullptr : found->second;
}

Target::Target(Connections connections, const Place& place)
    : read([connections = std::move(connections), place](const Kind& kind) {
        return exportAll(connections, kind, place);
      }) {}

const Snapshot& Target::Of(const Kind& kind) {
  auto& snapshot = snapshots[&kind];
  if (!snapshot) {
    auto taken = std::make_unique<Snapshot>();
    taken->document = read(kind);
    for (const json& item : taken->document.at(kind.itemsKey)) {
      taken->items.Add(item.at("name").get<std::string>(), item);
      // Carried probes without a name are left out: the server's probes are read for them.
      const auto carried = kind.CarriesProbes() ? item.find(kind.carriedKey) : item.end();
      if (carried != item.end() && carried->is_array()) {
        for (const json& probe : *carried) {
          const auto name = probe.find("name");
          if (name != probe.end() && name->is_string()) {
            taken->carried.Add(name->get<std::string>(), probe);
          }
        }
      }
    }
    snapshot = std::move(taken);
  }
  return *snapshot;
}

const Snapshot* Target::Taken(const Kind& kind) const {
  const auto found = snapshots.find(&kind);
  return found == snapshots.end() ? nullptr : found->second.get();
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

bool Plan::WouldChange() const {
  for (const auto& row : rows) {
    if (row.change == Change::New || row.change == Change::Changed) {
      return true;
    }
  }
  return false;
}

bool Plan::Sends(const Row& row) const {
  return row.change == Change::New || row.change == Change::Changed ||
         (resend && row.change == Change::Unchanged);
}

bool Plan::Overwrites(const Row& row) const {
  return row.change == Change::Changed || (resend && row.change == Change::Unchanged);
}

json Plan::Sent(bool carriedProbes) const {
  json items = json::array();
  for (const Row& row : rows) {
    if (row.carriedProbe == carriedProbes && Sends(row)) {
      items.push_back(*row.item);
    }
  }
  return items;
}

Plan makePlan(const Kind& kind, const json& file, Target& target, const Switches& switches,
              const Plan* before, const Place& place) {
  Named items;
  Named probes;
  readFile(kind, file, items, probes, place);
  const Snapshot& server = target.Of(kind);
  checkVersions(file, server.document, place);
  Plan plan;
  plan.kind = &kind;
  compare(
      items, [&](const std::string& name) { return server.items.Find(name); },
      switches.ignoreExisting, false, plan.rows);

  // A carried probe is compared with what the probe import that goes first sends, or else with
  // the server's version: from its export of probes, which is read only when the probes carried
  // by the server's items do not hold every name.
  bool needProbes = false;
  for (const auto& name : probes.names) {
    needProbes = needProbes || (!sentItem(before, name) && !server.carried.Find(name));
  }
  const Snapshot* serverProbes = needProbes ? &target.Of(kProbes) : target.Taken(kProbes);
  compare(
      probes,
      [&](const std::string& name) -> const json* {
        if (const json* sent = sentItem(before, name)) {
          return sent;
        }
        return serverProbes != nullptr ? serverProbes->items.Find(name) : server.carried.Find(name);
      },
      switches.ignoreExistingProbes, true, plan.rows);

  for (const auto& name : server.items.names) {
    if (items.Find(name) == nullptr) {
      plan.rows.push_back(Row{name, Change::ServerOnly, {}, false, nullptr});
    }
  }
  return plan;
}

json backup(const Plan& plan, Target& target) {
  std::set<std::string> overwritten[2];
  for (const Row& row : plan.rows) {
    if (plan.Overwrites(row)) {
      overwritten[row.carriedProbe].insert(row.name);
    }
  }
  const Snapshot& server = target.Of(*plan.kind);
  json file = server.document;
  json& items = file[plan.kind->itemsKey] = json::array();
  for (const json& item : server.document.at(plan.kind->itemsKey)) {
    if (overwritten[0].count(item.at("name").get<std::string>()) != 0) {
      items.push_back(item);
    }
  }
  if (!plan.kind->CarriesProbes()) {
    return file;
  }
  // The probes in the order of the server's export of probes; without that export, the order of
  // their ids, in which the server lists them.
  std::vector<const json*> probes;
  if (const Snapshot* serverProbes = target.Taken(kProbes)) {
    for (const json& probe : serverProbes->document.at(kProbes.itemsKey)) {
      if (overwritten[1].count(probe.at("name").get<std::string>()) != 0) {
        probes.push_back(&probe);
      }
    }
  } else {
    for (const auto& name : overwritten[1]) {
      if (const json* probe = server.carried.Find(name)) {
        probes.push_back(probe);
      }
    }
    std::stable_sort(probes.begin(), probes.end(), [](const json* one, const json* other) {
      return exportOrder(one) < exportOrder(other);
    });
  }
  json& carried = file[kProbes.itemsKey] = json::array();
  for (const json* probe : probes) {
    carried.push_back(*probe);
  }
  return file;
}

void printPlan(std::ostream& out, const Plan& plan, const Place& place) {
  if (plan.rows.empty()) {
    return;
  }
  out << "Name, Change, Detail" << std::endl;
  out << "====, ======, ======" << std::endl;
  checkStandardOutput(out, place);
  for (const auto& row : plan.rows) {
    const std::string name = string::printable(row.name);
    out << (row.carriedProbe ? "Probe '" + name + "'" : name) << ", " << changeText(row.change)
        << ", " << detail(row) << std::endl;
    checkStandardOutput(out, place);
  }
}

}  // namespace korv::cli::api
