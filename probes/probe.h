// A monitoring probe as the server lists it, and the categories the listing filters by.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "records/record_fields.h"

namespace korv::cli {

// The values are what a category name becomes on the command line ("0", "1", "2").
enum class ProbeCategory : int { SYSTEM = 0, CUSTOM = 1, ALL = 2 };

// "SYSTEM", "CUSTOM" and "ALL" (upper case) to their categories.
const std::unordered_map<std::string, ProbeCategory>& getProbeCategoryMap();

struct Probe {
  std::uint32_t id;
  std::string name;
  std::string internal_name;
  std::string level;
  std::string platform;
  bool enabled;
  std::uint32_t interval;
  std::uint32_t lifetime;
  bool discard_history;
  bool is_system_probe;

  // The ten members, all required, printed under the server's keys in this order.
  static const std::vector<api::Field<Probe>> fields;
};

}  // namespace korv::cli
