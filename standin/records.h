// The two kinds of record the stand-in keeps, probes and alert templates, with the server's key
// names, and the checks that records from the data file and from imports go through.
//
// Probe keys (an import may leave out those marked with a default):
//   "id"               unsigned integer     given by the server; ignored in imports
//   "name"             non-empty string     identifies the probe in imports and in dependencies
//   "internal_name"    non-empty string
//   "level"            string               e.g. "Server", "Database", "Schema"
//   "platform"         string               e.g. "Any", "Linux"
//   "enabled"          boolean              default true
//   "interval"         unsigned integer     seconds between runs, default 60
//   "lifetime"         unsigned integer     days of history kept, default 180
//   "discard_history"  boolean              default false
//   "is_system_probe"  boolean              set by the server; imports always make custom probes
// Any other member (for example "description" or "sql") is kept as it is.
//
// Alert template keys:
//   "id"                          unsigned integer   given by the server; ignored in imports
//   "name"                        non-empty string   identifies the template in imports
//   "object_type"                 string             e.g. "Server", "Database"
//   "probe_dependency_list"       array of strings   names of the probes the template reads
//   "description"                 string             default ""
//   "is_auto_create"              boolean            default false
//   "default_check_frequency"     unsigned integer   minutes, default 5
//   "default_history_retention"   unsigned integer   days, default 30
//   "info_sql"                    string or null     default null
//   "operator"                    string             default ">"
//   "low_threshold_value", "medium_threshold_value", "high_threshold_value"
//                                 string or null     default null
//   "is_system_template"          boolean            set by the server; imports make custom ones
// Any other member is kept, except "custom_probes", which only travels in exports and imports.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace korv::standin {

inline constexpr const char* kSystemProbeKey = "is_system_probe";
inline constexpr const char* kSystemTemplateKey = "is_system_template";
// The member of an exported alert template that carries the custom probes it depends on.
inline constexpr const char* kCarriedProbesKey = "custom_probes";

// Checks a record read from the data file: every key of its kind, "id" and the system flag
// included, must be there with its type. Returns the problem, or "" for a sound record.
std::string storedProbeProblem(const nlohmann::json& probe);
std::string storedTemplateProblem(const nlohmann::json& alertTemplate);

// Checks an imported item and fills in the defaults of the keys it leaves out. "id" and the
// system flag are left for the caller to set. Returns the problem, or "" when the item is usable.
std::string completeImportedProbe(nlohmann::json& probe);
std::string completeImportedTemplate(nlohmann::json& alertTemplate);

// Writing a document out recurses once per level of nesting, so documents nested deeper than
// this are refused where the stand-in reads them (request bodies and the data file).
inline constexpr std::size_t kMaxNesting = 400;

// True when a JSON text nests arrays and objects deeper than kMaxNesting. Brackets inside
// strings do not count; the text need not be valid JSON.
bool nestedTooDeep(const std::string& text);

// Takes one element of a record array, with the array's member name.
using RecordSink = std::function<void(const std::string& member, nlohmann::json& element)>;

// Parses a JSON text whose top-level object may hold long arrays of records under the given
// member names. A parsed record takes some five times the room of its text, so the elements of
// those arrays are handed to `take` one by one as they are read and left out of the document,
// where the arrays stay empty. Every such array is handed over, a member named twice included.
// Throws nlohmann::json::parse_error, and what `take` throws.
nlohmann::json parseRecords(const std::string& text, const std::vector<std::string>& arrayNames,
                            const RecordSink& take);

}  // namespace korv::standin
