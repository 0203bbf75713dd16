// A monitoring probe as the server lists it, and the categories the listing filters by.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

#include <nlohmann/json.hpp>

#include "api/record_stream.h"

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
};

// Writes the ten members in their fixed order.
void to_json(nlohmann::ordered_json& target, const Probe& probe);
// Appends what to_json writes, in compact form, without building a JSON value first.
void appendCompact(std::string& out, const Probe& probe);
// Reads the ten members, all required; other members are ignored. Raises the JSON library's
// errors for a missing member or a value of the wrong type.
void from_json(const nlohmann::json& source, Probe& probe);

// Reads probes from the parser's events as from_json reads them from a document.
struct ProbeReader {
  using Record = Probe;
  static constexpr std::size_t kMembers = 10;
  static int MemberIndex(std::string_view key);
  static bool IsTextList(int) { return false; }
  static Probe Make(api::MemberValue* members);
};

}  // namespace korv::cli
