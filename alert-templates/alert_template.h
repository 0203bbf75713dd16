// An alert template as the server lists it, with its threshold, and the categories the listing
// filters by. The server's key names are read; shorter names are printed, with the threshold in
// a nested object, so a printed record cannot be read back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "records/record_fields.h"

namespace korv::cli {

// The values are what a category name becomes on the command line ("0", "1", "2").
enum class AlertTemplateCategory : int { SYSTEM = 0, CUSTOM = 1, ALL = 2 };

// "SYSTEM", "CUSTOM" and "ALL" (upper case) to their categories.
const std::unordered_map<std::string, AlertTemplateCategory>& getAlertTemplateCategoryMap();

struct AlertTemplate {
  std::uint32_t id;
  std::string name;
  std::string description;  // read, never printed
  std::string object_type;
  std::string server_type;  // never read; printed as ""
  std::uint32_t check_frequency;
  std::uint32_t history_retention;
  bool auto_create;
  bool is_system_template;
  std::vector<std::string> probe_dependencies;
  api::NonEmptyText show_details;  // whether the server's "info_sql" is a non-empty text
  // The threshold: its operator, and values as text; no value (printed as null) differs from an
  // empty text.
  std::string op;
  std::optional<std::string> low;
  std::optional<std::string> medium;
  std::optional<std::string> high;

  // Every member but the threshold is required; the threshold is read up to its first missing
  // key. Printed in the table's order, the threshold last.
  static const std::vector<api::Field<AlertTemplate>> fields;
};

}  // namespace korv::cli
