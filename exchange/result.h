// The results of the commands for programs ("--json"): one JSON object on standard output, in
// place of the tables. It holds "items", one object per item with its "name" and its "kind"
// ("probe" or "alert-template"), and whatever else the command adds. Items are written one at a
// time, each on a line of its own, so that a long result never stands whole in memory.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/error.h"
#include "exchange/exchange.h"
#include "exchange/kind.h"
#include "exchange/plan.h"
#include "records/export_index.h"

namespace CLI {
class App;
}

namespace korv::cli::api {

// Adds the "--json" flag.
void addJsonOption(CLI::App* app, bool& json);

// Writes a result: "{"items":[", the items, then "],", the other members and "}".
class ResultWriter {
 public:
  explicit ResultWriter(Sink write);
  void Item(const nlohmann::ordered_json& item);
  // An item already written as a compact JSON object.
  void CompactItem(std::string_view item);
  // Ends the items and adds the members of the object given.
  void Finish(const nlohmann::ordered_json& members = nlohmann::ordered_json::object());

 private:
  Sink write;
  bool first = true;
};

// Writes to the stream (standard output), checking each write; flushes at the end of a line.
Sink streamSink(std::ostream& out, const Place& place);

// Appends the members of a row of a plan, with the name given, to a compact JSON object that the
// caller opens and closes: "name", "kind", "change", "fields" (the names of the fields that
// differ) and "values" (of each, the server's value and the file's, where it has the field).
// Written directly, since a plan may have a row for each of many thousand items.
void appendPlanMembers(std::string& out, const Plan& plan, const Row& row, std::string_view name);

// The probes that an alert template's import reports in its reason, among notes that "; "
// separates: "Probe 'cpu' created", "Probe 'disk' failed (no such metric)". Each has the probe's
// name, its status, and the text in brackets or else the status as its reason.
std::vector<Verdict> carriedVerdicts(const std::string& reason);

// The verdicts of an import as items with "name", "kind", "status" and "reason": for a kind that
// carries probes, each item is followed by the probes its reason reports, of kind "probe".
void writeVerdicts(ResultWriter& result, const Kind& kind, const std::vector<Verdict>& verdicts);

}  // namespace korv::cli::api
