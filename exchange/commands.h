// The exchanges of the export, import and diff subcommands, for any kind of record: each command
// runs one of them with its kind.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/error.h"
#include "exchange/exchange.h"
#include "exchange/kind.h"
#include "exchange/plan.h"

namespace korv::cli::api {

// Writes the command's own log records (passed from the command, whose name they show).
using Log = std::function<void(const std::string&)>;

// "--name PATTERN", repeatable: the items whose names match any of the shell-style patterns
// (as fnmatch reads them, case-sensitive); every item when no pattern is given.
class NameFilter {
 public:
  void AddOption(CLI::App* app, const std::string& description);
  bool Empty() const { return patterns.empty(); }
  std::size_t Count() const { return patterns.size(); }
  void Reset() { patterns.clear(); }
  bool Matches(std::string_view name) const;
  // Keeps the items of an export document whose names match. A pattern that matches none of
  // them raises an Error (status 4) naming the pattern, before anything is written or sent.
  void Pick(const Kind& kind, nlohmann::json& document, const Place& place) const;
  // The same for an export index, noting in `matched` (one flag per pattern) the patterns that
  // match an item, without raising; Refuse then raises for the first pattern noted in none.
  ExportIndex Keep(const Kind& kind, const ExportIndex& index, std::vector<bool>& matched) const;
  void Refuse(const std::vector<bool>& matched, const std::string& items, const Place& place) const;
  // Drops the plan's rows of items on the server only whose names do not match.
  void Narrow(Plan& plan) const;

 private:
  void keep(const Kind& kind, nlohmann::json& document, std::vector<bool>& matched) const;

  std::vector<std::string> patterns;
};

// Writes the server's export of the chosen custom items (all for no ids) to the destination;
// with names, only the exported items that match.
void exportItems(const Kind& kind, const std::set<std::uint32_t>& ids, const NameFilter& names,
                 ExportDestination& destination, const Place& place);

// Reads and checks an export file of the kind as its import does, so that every command that
// reads one reports the same errors. A file without "version" or the items is logged and
// refused.
nlohmann::json readExportFile(const Kind& kind, ImportSource& source, const Log& log,
                              const Place& place);

// The index of an export file of the kind (its text, as ImportSource::ReadText gives it), read and
// checked as its import reads it; the probes its items carry are indexed unless carriedKey is
// none. The text must stay, unmoved, while the index is used.
ExportIndex indexFile(const Kind& kind, const ImportSource& source, const std::string& text,
                      const char* carriedKey, const Log& log, const Place& place);

// Whether the import's verdict on an item of the kind tells of a failure (see importFile).
bool itemFailed(const Kind& kind, const Verdict& verdict);

// The body of an import request: the file's version, the switches and the items.
nlohmann::json importPayload(const Kind& kind, const nlohmann::json& version,
                             const Switches& switches, nlohmann::json items);
// The same in compact form, from the version's compact text and the items' texts, which must
// stay until it is written.
ObjectWriter importBody(const Kind& kind, std::string_view version, const Switches& switches,
                        const std::vector<std::string_view>& items);

// Sends the file (its items that match the names) to the server's import and prints its verdict
// per item, as a table or, with json, as a result for programs (see result.h). With a backup named,
// the server's current versions of what the import overwrites are written to it first. Returns
// whether an item failed: its status is none of created, overwritten, skipped and unchanged, or,
// for a kind that carries probes, its reason notes a carried probe that failed (among notes that
// "; " separates, "Probe 'cpu' failed", with " (<msg>)" after it when there is one).
bool importFile(const Kind& kind, ImportSource& source, const Switches& switches,
                const NameFilter& names, ExportDestination& backup, std::ostream& out, bool json,
                const Log& log, const Place& place);

// Prints the plan of an import of the file's items that match the names, as a table or, with json,
// as a result for programs; true when the import would change something.
bool diffFile(const Kind& kind, ImportSource& source, const Switches& switches,
              const NameFilter& names, std::ostream& out, bool json, const Log& log,
              const Place& place);

}  // namespace korv::cli::api
