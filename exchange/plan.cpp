#include "exchange/plan.h"

#include <curl/curl.h>

#include <algorithm>
#include <utility>

#include "common/interrupt.h"
#include "common/output.h"
#include "common/string_utils.h"
#include "connection/rest_api.h"
#include "connection/settings.h"
#include "exchange/exchange.h"

namespace korv::cli::api {

namespace {

using nlohmann::json;

std::uint32_t hashOf(std::string_view name) {
  const std::uint64_t hash = std::hash<std::string_view>{}(name);
  return static_cast<std::uint32_t>(hash ^ hash >> 32);
}

// Refuses an item without a name, which cannot be compared.
[[noreturn]] void refuseUnnamed(std::size_t position, const std::string& owner,
                                const Place& place) {
  throw FileError(string::format("Item %lu of %s has no name to compare it by.",
                                 static_cast<unsigned long>(position + 1), owner),
                  place.function, place.line);
}

// The items of a file, and the probes they carry.
void readFile(const Kind& kind, const ExportIndex& file, Named& items, Named& probes,
              const Place& place) {
  const std::vector<ItemText>& list = file.Items();
  items.Reserve(list.size());
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (!list[i].named) {
      refuseUnnamed(i, "the input file", place);
    }
    items.Add(list[i]);
    if (!kind.CarriesProbes() || list[i].carried == ItemText::Carried::None) {
      continue;
    }
    const std::string owner =
        "alert template '" + std::string(list[i].name) + "' in the input file";
    if (list[i].carried == ItemText::Carried::NotArray) {
      throw FileError(string::format("The %s has a member '%s' that is not an array of items.",
                                     owner, kind.carriedKey),
                      place.function, place.line);
    }
    for (std::size_t j = 0; j < list[i].carriedCount; ++j) {
      const ItemText& probe = file.Carried(list[i].firstCarried + j);
      if (!probe.named) {
        refuseUnnamed(j, "the probes of the " + owner, place);
      }
      probes.Add(probe);
    }
  }
}

// The fields whose values differ, a field that only one side has included; fields the server
// assigns, and the probes an item carries, are not compared.
std::vector<FieldChange> differingFields(const ItemText& mine, const ItemText& theirs) {
  static const std::vector<std::string_view> ignored{"id", kAlertTemplates.carriedKey};
  std::vector<FieldChange> fields;
  for (const auto& member : differingMembers(mine, theirs, ignored)) {
    fields.emplace_back(member.key, member.theirs, member.mine);
  }
  return fields;
}

// Adds a row for each item of the file, given the server's version of an item by name; returns
// how many of them the server has.
template <typename Version>
std::size_t compare(const Named& file, Version version, bool ignoreExisting, bool carriedProbes,
                    std::vector<Row>& rows) {
  std::size_t existing = 0;
  for (const ItemText* item : file.Items()) {
    Row row{item, {}, Change::New, carriedProbes};
    if (const ItemText* theirs = version(item->name)) {
      ++existing;
      if (ignoreExisting) {
        row.change = Change::Skipped;
      } else {
        row.fields = differingFields(*item, *theirs);
        row.change = row.fields.empty() ? Change::Unchanged : Change::Changed;
      }
    }
    rows.push_back(std::move(row));
  }
  return existing;
}

// The "version" of an export.
json versionOf(const ExportIndex& document) {
  return json::parse(document.Member("version"));
}

// The major number of an export's "version" ("11" of "11.0", leading zeros dropped); "" when the
// version is not a string that starts with one.
std::string majorVersion(const json& version) {
  if (!version.is_string()) {
    return "";
  }
  const std::string& text = version.get_ref<const std::string&>();
  const std::string head = text.substr(0, text.find('.'));
  if (head.empty() || head.find_first_not_of("0123456789") != std::string::npos) {
    return "";
  }
  const std::size_t first = head.find_first_not_of('0');
  return first == std::string::npos ? "0" : head.substr(first);
}

// The server imports only data of its own major version: a file of another one would be refused
// whole, so no change of the comparison would come about.
void checkVersions(const ExportIndex& file, const ExportIndex& serverExport, const Place& place) {
  const json fileVersion = versionOf(file), serverVersion = versionOf(serverExport);
  const std::string mine = majorVersion(fileVersion), theirs = majorVersion(serverVersion);
  if (mine.empty() || theirs.empty() || mine == theirs) {
    return;
  }
  throw Error(
      place.function, place.line, "Version mismatch",
      string::format("The data comes from server version %s and the KORV Server at '%s' "
                     "is version %s: it imports data of its own major version only.",
                     string::printable(fileVersion.get<std::string>()), string::hideUserInfo(url),
                     string::printable(serverVersion.get<std::string>())));
}

// The items of the wanted names that a plan sends; none for no plan.
Named sentItems(const Plan* plan, const Named& wanted) {
  Named sent;
  if (plan != nullptr && !wanted.Items().empty()) {
    for (const Row& row : plan->rows) {
      if (!row.carriedProbe && plan->Sends(row) && wanted.Find(row.Name()) != nullptr) {
        sent.Add(*row.item);
      }
    }
  }
  return sent;
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
  // A value is shown when it is short and plain: no object or array.
  const auto shown = [](std::string_view value) {
    return value.size() <= 40 && value.front() != '{' && value.front() != '[';
  };
  std::string fields;
  for (const FieldChange& field : row.fields) {
    const std::string_view server = field.Server(), file = field.File();
    fields.append(fields.empty() ? "" : ", ").append(field.Name());
    if ((server.empty() || shown(server)) && (file.empty() || shown(file))) {
      fields.append(" ")
          .append(server.empty() ? "(none)" : server)
          .append(" \u2192 ")
          .append(file.empty() ? "(none)" : file);
    } else {
      fields += " changed";
    }
  }
  return string::printable(fields);
}

// A transfer that did not complete raises an Error that names the server.
void checkTransfer(const web::WebConnection& connection, const Place& place) {
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

}  // namespace

void post(web::WebConnection& connection, const std::string& path, const std::string& payload,
          const Place& place) {
  connection.AddHeader("Content-Type", "application/json");
  connection.Perform(path, "POST", payload);
  checkTransfer(connection, place);
}

void post(web::WebConnection& connection, const std::string& path, ObjectWriter& body,
          const Place& place) {
  connection.AddHeader("Content-Type", "application/json");
  body.Restart();
  connection.Perform(
      path, "POST",
      web::BodySource{body.Size(), [&](std::string& part) { return body.Next(part); },
                      [&] { body.Restart(); }});
  checkTransfer(connection, place);
}

ExportIndex exportAll(const Connections& connections, const Kind& kind, const Place& place) {
  const auto connection = connections();
  post(*connection, kind.exportPath, json{{kind.itemsKey, json::array()}}.dump(), place);
  // The answer's text stays with its connection, which serves no other request.
  ExportIndex index;
  const long status = connection->ResponseCode();
  if (status >= 200 && status <= 299 &&
      index.Read(connection->Response(), web::ResponseBody::kSpare, connection, kind.itemsKey,
                 kind.carriedKey)) {
    return index;
  }
  const json answer = parseResponse(*connection, place);
  checkStatus(*connection, answer, FailureReport::HTTPError, place);
  readAnswer(place, [&] {
    answer.at("version");
    for (const json& item : answer.at(kind.itemsKey).get_ref<const json::array_t&>()) {
      item.at("name").get_ref<const std::string&>();
    }
  });
  index.Take(answer, kind.itemsKey, kind.carriedKey);
  return index;
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

void Named::Reserve(std::size_t count) {
  std::size_t size = 16;
  while (size < 2 * count) {
    size *= 2;
  }
  if (size <= slots.size()) {
    return;
  }
  items.reserve(count);
  slots.assign(size, 0);
  for (std::size_t i = 0; i < items.size(); ++i) {
    const std::uint32_t hash = hashOf(items[i]->name);
    slots[Slot(items[i]->name, hash)] = std::uint64_t{hash} << 32 | (i + 1);
  }
}

void Named::Add(const ItemText& item) {
  if (2 * (items.size() + 1) > slots.size()) {
    Reserve(items.size() + 1);
  }
  const std::uint32_t hash = hashOf(item.name);
  std::uint64_t& slot = slots[Slot(item.name, hash)];
  if (slot == 0) {
    items.push_back(&item);
    slot = std::uint64_t{hash} << 32 | items.size();
  } else {
    items[(slot & UINT32_MAX) - 1] = &item;
  }
}

const ItemText* Named::Find(std::string_view name) const {
  if (slots.empty()) {
    return nullptr;
  }
  const std::uint64_t slot = slots[Slot(name, hashOf(name))];
  return slot == 0 ? nullptr : items[(slot & UINT32_MAX) - 1];
}

std::size_t Named::Slot(std::string_view name, std::uint32_t hash) const {
  const std::size_t mask = slots.size() - 1;
  for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
    const std::uint64_t slot = slots[at];
    if (slot == 0 || (slot >> 32 == hash && items[(slot & UINT32_MAX) - 1]->name == name)) {
      return at;
    }
  }
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
    const ExportIndex& document = taken->document;
    taken->items.Reserve(document.Items().size());
    for (const ItemText& item : document.Items()) {
      taken->items.Add(item);
      // Carried probes without a name are left out: the server's probes are read for them.
      if (item.carried != ItemText::Carried::Array) {
        continue;
      }
      for (std::size_t i = 0; i < item.carriedCount; ++i) {
        if (const ItemText& probe = document.Carried(item.firstCarried + i); probe.named) {
          taken->carried.Add(probe);
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

FieldChange::FieldChange(std::string_view name, std::string_view server, std::string_view file) {
  text.reserve(name.size() + server.size() + file.size() + 2);
  text.append(name).append(1, '\0').append(server).append(1, '\0').append(file);
}

std::string_view FieldChange::Part(int index) const {
  std::size_t start = 0;
  for (int i = 0; i < index; ++i) {
    start = text.find('\0', start) + 1;
  }
  return std::string_view(text).substr(start, text.find('\0', start) - start);
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

std::vector<std::string_view> Plan::Sent(bool carriedProbes) const {
  std::vector<std::string_view> items;
  for (const Row& row : rows) {
    if (row.carriedProbe == carriedProbes && Sends(row)) {
      items.push_back(row.item->text);
    }
  }
  return items;
}

Plan makePlan(const Kind& kind, const ExportIndex& file, Target& target, const Switches& switches,
              const Plan* before, const Place& place) {
  Named items;
  Named probes;
  readFile(kind, file, items, probes, place);
  const Snapshot& server = target.Of(kind);
  checkVersions(file, server.document, place);
  Plan plan;
  plan.kind = &kind;
  plan.rows.reserve(items.Items().size() + probes.Items().size() + server.items.Items().size());
  const std::size_t existing = compare(
      items, [&](std::string_view name) { return server.items.Find(name); },
      switches.ignoreExisting, false, plan.rows);

  // A carried probe is compared with what the probe import that goes first sends, or else with
  // the server's version: from its export of probes, which is read only when the probes carried
  // by the server's items do not hold every name.
  const Named sent = sentItems(before, probes);
  bool needProbes = false;
  for (const ItemText* probe : probes.Items()) {
    needProbes = needProbes || (!sent.Find(probe->name) && !server.carried.Find(probe->name));
  }
  const Snapshot* serverProbes = needProbes ? &target.Of(kProbes) : target.Taken(kProbes);
  compare(
      probes,
      [&](std::string_view name) -> const ItemText* {
        if (const ItemText* item = sent.Find(name)) {
          return item;
        }
        return serverProbes != nullptr ? serverProbes->items.Find(name) : server.carried.Find(name);
      },
      switches.ignoreExistingProbes, true, plan.rows);

  // The items on the server only: none when the file holds as many of its items as it has.
  if (existing < server.items.Items().size()) {
    for (const ItemText* item : server.items.Items()) {
      if (items.Find(item->name) == nullptr) {
        plan.rows.push_back(Row{item, {}, Change::ServerOnly, false});
      }
    }
  }
  return plan;
}

void backup(const Plan& plan, Target& target, const Sink& write) {
  // The names of the items and of the carried probes overwritten, sorted, each once.
  std::vector<std::string_view> overwritten[2];
  for (const Row& row : plan.rows) {
    if (plan.Overwrites(row)) {
      overwritten[row.carriedProbe].push_back(row.Name());
    }
  }
  for (auto& names : overwritten) {
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
  }
  const auto isOverwritten = [&](bool carriedProbe, std::string_view name) {
    return std::binary_search(overwritten[carriedProbe].begin(), overwritten[carriedProbe].end(),
                              name);
  };
  const Snapshot& server = target.Of(*plan.kind);
  std::vector<std::string_view> items;
  for (const ItemText& item : server.document.Items()) {
    if (isOverwritten(false, item.name)) {
      items.push_back(item.text);
    }
  }
  std::vector<ObjectMember> members = server.document.Members();
  members.push_back({plan.kind->itemsKey, {}, &items});
  std::vector<std::string_view> texts;
  if (plan.kind->CarriesProbes()) {
    // The probes in the order of the server's export of probes; without that export, the order
    // of their ids, in which the server lists them.
    std::vector<const ItemText*> probes;
    if (const Snapshot* serverProbes = target.Taken(kProbes)) {
      for (const ItemText& probe : serverProbes->document.Items()) {
        if (isOverwritten(true, probe.name)) {
          probes.push_back(&probe);
        }
      }
    } else {
      for (const auto& name : overwritten[1]) {
        if (const ItemText* probe = server.carried.Find(name)) {
          probes.push_back(probe);
        }
      }
      std::stable_sort(
          probes.begin(), probes.end(),
          [](const ItemText* one, const ItemText* other) { return one->order < other->order; });
    }
    for (const ItemText* probe : probes) {
      texts.push_back(probe->text);
    }
    members.push_back({kProbes.itemsKey, {}, &texts});
  }
  ObjectWriter(std::move(members)).WriteAll(write);
}

void printPlan(std::ostream& out, const Plan& plan, const Place& place) {
  if (plan.rows.empty()) {
    return;
  }
  out << "Name, Change, Detail" << std::endl;
  out << "====, ======, ======" << std::endl;
  checkStandardOutput(out, place);
  for (const auto& row : plan.rows) {
    const std::string name = string::printable(std::string(row.Name()));
    out << (row.carriedProbe ? "Probe '" + name + "'" : name) << ", " << changeText(row.change)
        << ", " << detail(row) << '\n';
    checkStandardOutput(out, place);
    interrupt::throwIfPending();
  }
  std::map<Change, std::size_t> counts;
  for (const auto& row : plan.rows) {
    ++counts[row.change];
  }
  std::string total;
  for (const auto& [change, count] : counts) {
    total += (total.empty() ? "" : ", ") + std::to_string(count) + " " + changeText(change);
  }
  out << total << std::endl;
  checkStandardOutput(out, place);
}

}  // namespace korv::cli::api
