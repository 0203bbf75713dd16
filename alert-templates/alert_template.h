// An alert template as the server lists it, with its thresholds, and the categories the listing
// filters by. The server's key names are read; shorter names are written, with the thresholds in
// a nested object, so a written record cannot be read back.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include <nlohmann/json.hpp>

#include "api/record_stream.h"

namespace korv::cli {

// The values are what a category name becomes on the command line ("0", "1", "2").
enum class AlertTemplateCategory : int { SYSTEM = 0, CUSTOM = 1, ALL = 2 };

// "SYSTEM", "CUSTOM" and "ALL" (upper case) to their categories.
const std::unordered_map<std::string, AlertTemplateCategory>& getAlertTemplateCategoryMap();

struct Threshold {
  std::string op;
  std::string unit;  // nothing fills it; written only when not empty
  // Threshold values as text; no value (written as null) differs from an empty text.
  std::shared_ptr<std::string> low;
  std::shared_ptr<std::string> medium;
  std::shared_ptr<std::string> high;
};

struct AlertTemplate {
  std::uint32_t id;
  std::string name;
  std::string description;  // read, never written
  std::string object_type;
  std::string server_type;  // nothing fills it; written as ""
  std::uint32_t check_frequency;
  std::uint32_t history_retention;
  bool auto_create;
  bool is_system_template;
  std::vector<std::string> probe_dependencies;
  Threshold threshold;
  bool show_details;  // whether the server's "info_sql" is a non-empty text
};

// Reads "operator", "low_threshold_value", "medium_threshold_value", "high_threshold_value" in
// that order from the template object, stopping at the first that is missing.
void from_json(const nlohmann::json& source, Threshold& threshold);
// "operator", "low", "medium", "high", and "unit" when there is one.
void to_json(nlohmann::ordered_json& target, const Threshold& threshold);

// Reads the server's keys; all but the thresholds are required.
void from_json(const nlohmann::json& source, AlertTemplate& alertTemplate);
// Writes the eleven members in their fixed order, the dependency list as "probe_depenencies".
void to_json(nlohmann::ordered_json& target, const AlertTemplate& alertTemplate);

// Appends what to_json writes, in compact form, without building a JSON value first.
void appendCompact(std::string& out, const AlertTemplate& alertTemplate);

// Reads alert templates from the parser's events as from_json reads them from a document.
struct AlertTemplateReader {
  using Record = AlertTemplate;
  static constexpr std::size_t kMembers = 14;
  static int MemberIndex(std::string_view key);
  static bool IsTextList(int index);
  static AlertTemplate Make(api::MemberValue* members);
};

}  // namespace korv::cli
