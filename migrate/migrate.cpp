#include "migrate/migrate.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <sstream>
#include <system_error>
#include <unordered_map>

#include <CLI/CLI.hpp>

#include "cli/global_options.h"
#include "cli/suggest.h"
#include "common/interrupt.h"
#include "common/logger.h"
#include "common/scope.h"
#include "common/string_utils.h"
#include "connection/session.h"
#include "exchange/commands.h"
#include "exchange/exchange.h"
#include "exchange/plan.h"
#include "exchange/result.h"

namespace korv::cli {

namespace {

Migrate command;

// The exit status when the target reported an item as failed, or was changed by a run that
// failed.
constexpr int kItemsFailed = 5;

// The time of the run, with "-2", "-3" and so on added while an earlier run (of the same second)
// has the name.
std::string defaultDirectory() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char name[64];
  std::strftime(name, sizeof name, "korv-migration-%Y%m%d-%H%M%S", &local);
  std::string path = name;
  struct stat info {};
  for (int n = 2; ::lstat(path.c_str(), &info) == 0; ++n) {
    path = name + ("-" + std::to_string(n));
  }
  return path;
}

// The server a connection reaches, as its URL and user: the scheme and the authority in lower
// case, without the scheme's default port, with "http://" where the URL names no scheme.
std::string serverIdentity(const api::Connection& connection) {
  std::string url = connection.url;
  if (url.rfind("//", 0) == 0) {
    url.insert(0, "http:");
  } else if (url.find("://") == std::string::npos) {
    url.insert(0, "http://");
  }
  const std::size_t authority = url.find("://") + 3;
  const std::size_t path = std::min(url.find('/', authority), url.size());
  std::transform(url.begin(), url.begin() + static_cast<std::ptrdiff_t>(path), url.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const std::string port = url.rfind("https:", 0) == 0 ? ":443" : ":80";
  if (path - authority > port.size() && url.compare(path - port.size(), port.size(), port) == 0) {
    url.erase(path - port.size(), port.size());
  }
  return url + "\n" + connection.user;
}

}  // namespace

// The record directory. An existing one must be an empty directory of the running user, so that
// no earlier record is mixed in or overwritten and nobody else's directory receives it; a missing
// one is made, and taken away again (with the parents made for it) by a run that ends before it
// wrote a file into it.
class Migrate::RecordDirectory {
 public:
  explicit RecordDirectory(std::string path) : path(std::move(path)) {
    namespace fs = std::filesystem;
    struct stat info {};
    if (::lstat(this->path.c_str(), &info) == 0) {
      if (::stat(this->path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        Refuse("'%s' is not a directory");
      }
      if (info.st_uid != ::geteuid()) {
        Refuse("Directory '%s' belongs to another user");
      }
      std::error_code error;
      if (!fs::is_empty(this->path, error) || error) {
        Refuse("Directory '%s' is not empty");
      }
      return;
    }
    std::error_code error;
    for (fs::path missing = this->path;
         !missing.empty() && !fs::exists(fs::symlink_status(missing, error));
         missing = missing.parent_path()) {
      made.push_back(missing);
      if (missing == missing.parent_path()) {
        break;
      }
    }
    if (!fs::create_directories(this->path, error)) {
      made.clear();
      throw UsageError(UsageError::Kind::Value,
                       string::format("Cannot create the directory '%s'.", this->path));
    }
  }
  ~RecordDirectory() {
    if (written) {
      return;
    }
    // rmdir takes only an empty directory: whatever another put there stays.
    for (const auto& directory : made) {
      if (::rmdir(directory.c_str()) != 0) {
        break;
      }
    }
  }
  RecordDirectory(const RecordDirectory&) = delete;
  RecordDirectory& operator=(const RecordDirectory&) = delete;

  const std::string& Path() const { return path; }
  bool Written() const { return written; }

  // Writes the file from its compact form, given a part at a time.
  void Write(const std::string& name, const std::function<void(const api::Sink&)>& content) {
    api::ExportDestination destination;
    destination.SetFileName({path + "/" + name});
    destination.Open(KORV_HERE);
    written = true;
    destination.WriteParts(content, KORV_HERE);
  }

 private:
  [[noreturn]] void Refuse(const char* what) const {
    throw UsageError(UsageError::Kind::Value,
                     string::format(what, path) + "; name a new or empty directory.");
  }

  std::string path;
  std::vector<std::filesystem::path> made;  // the deepest first
  bool written = false;
};

// What a run has done to the target so far, for its summary.
class Migrate::Progress {
 public:
  // The step under way, such as "the import of the probes into 'new'".
  std::string step;

  // An import request goes out: until its answer says otherwise, it may change the target.
  void Sending() { inDoubt = true; }
  // The server refused the request as a whole.
  void Refused() { inDoubt = false; }
  void Count(const std::vector<api::Verdict>& verdicts) {
    inDoubt = false;
    for (const auto& verdict : verdicts) {
      ++counts[verdict.status];
      changed = changed || (verdict.status != "skipped" && verdict.status != "failed");
    }
  }

  // Items the plan left as they are: they count without changing the target.
  void Kept(const std::map<std::string, int>& kept) {
    for (const auto& [status, count] : kept) {
      counts[status] += count;
    }
  }

  bool TargetChanged() const { return changed || inDoubt; }
  bool ItemFailed() const {
    for (const auto& [status, count] : counts) {
      if (status != "created" && status != "overwritten" && status != "skipped" &&
          status != "unchanged") {
        return true;
      }
    }
    return false;
  }
  const std::map<std::string, int>& Totals() const { return counts; }
  // "3 created, 1 failed"; "" for nothing imported.
  std::string Counts() const {
    std::string text;
    for (const auto& [status, count] : counts) {
      text += (text.empty() ? "" : ", ") + std::to_string(count) + " " + status;
    }
    return text;
  }

  // Where a failed run stopped and what it had imported by then.
  std::string Stop(const std::string& from, const std::string& to) const {
    return "Migration from '" + from + "' to '" + to + "' stopped at " + step + "; " +
           (counts.empty() ? "nothing was imported" : "imported so far: " + Counts()) +
           (inDoubt ? "; the unfinished import may have changed '" + to + "'" : "") + ".";
  }

 private:
  std::map<std::string, int> counts;
  bool changed = false;
  bool inDoubt = false;
};

// What a run has read and planned, and the target's verdicts, for its result.
struct Migrate::Outcome {
  std::map<const api::Kind*, api::ExportIndex> files;
  std::vector<api::Plan> plans;
  // The names of the target's items that each plan leaves alone, in the plan's order: they stay
  // when the target's snapshot, which the rows point into, is given back.
  std::vector<std::vector<std::string>> serverOnly;
  // The verdicts of the imports by the kind of the import that gave them.
  std::map<const api::Kind*, std::vector<api::Verdict>> verdicts;
};

namespace {

// One import request: the items of one kind, or the probes that the alert templates carry, as
// the plan chose them, and the plan's rows that it covers.
struct Import {
  std::string what;
  const api::Kind* kind;
  const api::Plan* plan;
  bool carriedProbes;
  api::Switches switches;
  std::vector<std::string_view> items;
};

// Whether a request that failed with this libcurl result never reached the server.
bool neverSent(long result) {
  return result == CURLE_COULDNT_RESOLVE_PROXY || result == CURLE_COULDNT_RESOLVE_HOST ||
         result == CURLE_COULDNT_CONNECT;
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
  return "Migrate the custom probes and alert templates between named servers.";
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
      ->type_name("KIND")
      ->check(allowing(CLI::IsMember({api::kProbes.name, api::kAlertTemplates.name}),
                       api::kProbes.name + std::string(", ") + api::kAlertTemplates.name));
  app->add_flag("--ignore-existing", ignoreExisting,
                "Keep the probes and alert templates that the target already has.");
  api::addJsonOption(app, json);
  names.AddOption(app,
                  "Migrate only the probes and alert templates whose names match\n"
                  "the pattern (repeatable).");
  app->footer(
      "Examples:\n"
      "  korv-cli migrate --from old --to new --dry-run\n"
      "  korv-cli migrate --from old --to new --dir migration-1\n"
      "  korv-cli migrate --from old --to new --only probes --name 'Orders*' --ignore-existing\n");
}

void Migrate::Reset() {
  from.clear();
  to.clear();
  dir.clear();
  only.clear();
  dryRun = false;
  ignoreExisting = false;
  json = false;
  names.Reset();
}

void Migrate::Perform() {
  Scope reset([this] { Reset(); });
  // The run's settings are those of the source (--from chose it); the target's are read alike.
  api::Connection target = api::current();
  loadServer(to);
  swapConnection(target);
  if (serverIdentity(api::current()) == serverIdentity(target)) {
    throw UsageError(
        UsageError::Kind::Value,
        string::format("--from '%s' and --to '%s' name the same server ('%s' as user '%s'); "
                       "nothing to migrate.",
                       from, to, string::hideUserInfo(target.url), target.user));
  }
  RecordDirectory record(dir.empty() ? defaultDirectory() : dir);

  // Both tokens are given back however the run ends; the run's own release then has nothing to do.
  Scope release([&target] {
    api::finish();
    swapConnection(target);
    api::finish();
    api::resetConnectionSettings();
  });
  LOG_INFO << string::format("Migrating from '%s' to '%s', record in '%s'", from, to,
                             record.Path());
  Progress progress;
  Outcome outcome;
  // The result goes into the record, with the files it describes, and to standard output with
  // --json.
  const auto result = [&](const std::string& stopped) {
    // A dry run's record cannot be restored: it keeps the exports only.
    if (!dryRun && (record.Written() || stopped.empty())) {
      record.Write("result.json", [&](const api::Sink& write) {
        WriteResult(write, outcome, progress, record.Path(), stopped);
      });
    }
    if (json) {
      WriteResult(api::streamSink(*out, KORV_HERE), outcome, progress, record.Path(), stopped);
    }
  };
  try {
    Run(record, target, progress, outcome);
    result("");
  } catch (...) {
    // Standard output may have failed on a signal; what follows must still reach it.
    out->clear();
    const std::string stopped = progress.Stop(from, to);
    if (!json) {
      *out << stopped << std::endl;
    }
    try {
      result(stopped);
    } catch (const std::exception& e) {
      LOG_WARNING << "The result of the stopped run was not written: " << e.what();
    }
    if (!progress.TargetChanged() || interrupt::signal() != 0) {
      throw;
    }
    // The target has changed: that is the status, and the error is told as the driver tells it.
    try {
      throw;
    } catch (const Error& e) {
      LOG_ERROR << e.to_string();
      std::cerr << e.what() << std::endl;
    }
    SetExitStatus(kItemsFailed);
  }
}

void Migrate::Run(RecordDirectory& record, api::Connection& target, Progress& progress,
                  Outcome& outcome) {
  std::vector<const api::Kind*> kinds;
  for (const api::Kind* kind : {&api::kProbes, &api::kAlertTemplates}) {
    if (only.empty() || only == kind->name) {
      kinds.push_back(kind);
    }
  }
  const bool withProbes = kinds.front() == &api::kProbes;

  progress.step = "the login to '" + from + "'";
  const auto sourceConnection = api::connect();
  swapConnection(target);
  progress.step = "the login to '" + to + "'";
  const api::Connections toTarget = api::sessionConnections(api::connect());
  api::Target targetItems(toTarget, KORV_HERE);
  swapConnection(target);
  const api::Connections toSource = api::sessionConnections(sourceConnection);

  auto& files = outcome.files;
  for (const api::Kind* kind : kinds) {
    progress.step = string::format("the export of the %s from '%s'", kind->name, from);
    LOG_INFO << "Running " << progress.step;
    files[kind] = api::exportAll(toSource, *kind, KORV_HERE);
  }
  swapConnection(target);
  // With names, only the source's items that match are planned; a pattern that matches none of
  // them ends the run before anything is written.
  std::map<const api::Kind*, api::ExportIndex> picked;
  if (!names.Empty()) {
    progress.step = "the choice of the items by name";
    std::vector<bool> matched(names.Count(), false);
    for (const api::Kind* kind : kinds) {
      picked[kind] = names.Keep(*kind, files[kind], matched);
    }
    names.Refuse(matched, kinds.size() == 1 ? kinds.front()->itemName : "probe or alert template",
                 KORV_HERE);
  }
  for (const api::Kind* kind : kinds) {
    record.Write(kind->name + std::string(".json"),
                 [&](const api::Sink& write) { files[kind].Write(kind->itemsKey, write); });
  }
  // The first line of the output, once the record holds something.
  if (!json) {
    *out << "Record directory: '" << string::printable(record.Path()) << "'" << std::endl;
  }
  if (!names.Empty()) {
    files = std::move(picked);
  }

  // The probes go in first, through the probe import, so that each has a verdict of its own: the
  // probes of the source, or else those that the alert templates carry. The templates then keep
  // the probes in place, so the plan of the templates compares their probes with what the probe
  // import leaves. Only what changes is sent.
  std::vector<api::Plan>& plans = outcome.plans;
  plans.reserve(kinds.size());
  bool wouldChange = false;
  for (const api::Kind* kind : kinds) {
    progress.step = string::format("the comparison of the %s with '%s'", kind->name, to);
    LOG_INFO << "Running " << progress.step;
    const bool after = withProbes && kind->CarriesProbes();
    plans.push_back(
        api::makePlan(*kind, files[kind], targetItems,
                      {ignoreExisting, kind->CarriesProbes() && (after || ignoreExisting)},
                      after ? &plans.front() : nullptr, KORV_HERE));
    plans.back().resend = false;
    names.Narrow(plans.back());
    outcome.serverOnly.emplace_back();
    for (const api::Row& row : plans.back().rows) {
      if (row.change == api::Change::ServerOnly) {
        outcome.serverOnly.back().emplace_back(row.Name());
      }
    }
    if (!json) {
      *out << "Diff of the " << kind->name << ":" << std::endl;
      api::printPlan(*out, plans.back(), KORV_HERE);
    }
    wouldChange = wouldChange || plans.back().WouldChange();
  }
  if (dryRun) {
    SetExitStatus(wouldChange ? 3 : 0);
    return;
  }

  for (const api::Plan& plan : plans) {
    progress.step = string::format("the backup of the %s of '%s'", plan.kind->name, to);
    LOG_INFO << "Running " << progress.step;
    record.Write("backup-" + std::string(plan.kind->name) + ".json",
                 [&](const api::Sink& write) { api::backup(plan, targetItems, write); });
  }

  // What follows needs only the plans and the source's items.
  targetItems.Release();

  std::vector<Import> imports;
  for (const api::Plan& plan : plans) {
    if (plan.kind->CarriesProbes() && !withProbes) {
      imports.push_back({"probes carried by the alert-templates",
                         &api::kProbes,
                         &plan,
                         true,
                         {ignoreExisting, false},
                         plan.Sent(true)});
    }
    imports.push_back(
        {plan.kind->name, plan.kind, &plan, false, {ignoreExisting, true}, plan.Sent(false)});
  }
  std::map<std::string, int> kept;
  for (const Import& import : imports) {
    for (const api::Row& row : import.plan->rows) {
      if (row.carriedProbe == import.carriedProbes &&
          (row.change == api::Change::Unchanged || row.change == api::Change::Skipped)) {
        ++kept[api::changeText(row.change)];
      }
    }
    if (import.items.empty()) {
      continue;
    }
    progress.step = "the import of the " + import.what + " into '" + to + "'";
    LOG_INFO << "Running " << progress.step;
    const auto connection = toTarget();
    progress.Sending();
    try {
      api::ObjectWriter body = api::importBody(
          *import.kind, files[import.plan->kind].Member("version"), import.switches, import.items);
      api::post(*connection, import.kind->importPath, body, KORV_HERE);
    } catch (const Error&) {
      if (neverSent(connection->ResponseCode())) {
        progress.Refused();
      }
      throw;
    }
    const long code = connection->ResponseCode();
    if (code >= 400 && code <= 499) {
      progress.Refused();
    }
    // The verdicts are shown under their heading once they are all read.
    std::stringstream table;
    std::vector<api::Verdict> verdicts =
        api::printVerdicts(*connection, json ? nullptr : &table, KORV_HERE);
    progress.Count(verdicts);
    auto& received = outcome.verdicts[import.kind];
    received.insert(received.end(), std::make_move_iterator(verdicts.begin()),
                    std::make_move_iterator(verdicts.end()));
    if (!json) {
      api::printUnder(*out, "Import of the " + import.what + ":", table, KORV_HERE);
    }
  }
  progress.Kept(kept);

  const std::string summary = progress.Counts();
  if (!json) {
    *out << "Migrated from '" << from << "' to '" << to
         << "': " << (summary.empty() ? "nothing to import" : summary) << "." << std::endl;
  }
  LOG_INFO << "Migration summary: " << summary;
  if (progress.ItemFailed()) {
    SetExitStatus(kItemsFailed);
  }
}

void Migrate::WriteResult(const api::Sink& write, const Outcome& outcome, const Progress& progress,
                          const std::string& record, const std::string& stopped) const {
  // The last verdict of each name, by the kind of the import that gave it.
  std::map<const api::Kind*, std::unordered_map<std::string_view, const api::Verdict*>> verdicts;
  for (const auto& [kind, list] : outcome.verdicts) {
    auto& byName = verdicts[kind];
    byName.reserve(list.size());
    for (const api::Verdict& verdict : list) {
      byName[verdict.name] = &verdict;
    }
  }
  api::ResultWriter result(write);
  std::map<std::string, int> changes;
  for (std::size_t i = 0; i < outcome.plans.size(); ++i) {
    const api::Plan& plan = outcome.plans[i];
    auto serverOnly = outcome.serverOnly.at(i).begin();
    for (const api::Row& row : plan.rows) {
      ++changes[api::changeText(row.change)];
      const bool onServer = row.change == api::Change::ServerOnly;
      const std::string_view name = onServer ? std::string_view(*serverOnly++) : row.Name();
      std::string item = "{";
      api::appendPlanMembers(item, plan, row, name);
      if (!dryRun) {
        // Items the plan keeps have their change as their status; those that the run did not
        // send (it stopped first) and those on the target only have none.
        const api::Verdict* verdict = nullptr;
        if (plan.Sends(row)) {
          const auto& byName = verdicts[row.carriedProbe ? &api::kProbes : plan.kind];
          const auto found = byName.find(name);
          verdict = found == byName.end() ? nullptr : found->second;
        }
        const auto text = [&item](std::string_view value) {
          item += '"';
          string::appendEscaped(item, value, true);
          item += '"';
        };
        if (verdict != nullptr) {
          item += ",\"status\":";
          text(verdict->status);
          item += ",\"reason\":";
          text(verdict->reason);
        } else if (!plan.Sends(row) && !onServer) {
          item += ",\"status\":";
          text(api::changeText(row.change));
          item += ",\"reason\":";
          text(api::changeText(row.change));
        } else {
          item += ",\"status\":null,\"reason\":null";
        }
      }
      result.CompactItem(item + "}");
    }
  }
  nlohmann::ordered_json members{{"from", from},
                                 {"to", to},
                                 {"record", record},
                                 {"dry_run", dryRun},
                                 {"summary", dryRun ? changes : progress.Totals()}};
  if (!stopped.empty()) {
    members["stopped"] = stopped;
  }
  result.Finish(members);
}

}  // namespace korv::cli
