#include "probes/probe.h"

#include "common/json_number.h"

namespace korv::cli {

namespace {
constexpr std::string_view kProbeMembers[ProbeReader::kMembers] = {
    "id",      "name",     "internal_name", "level",           "platform",
    "enabled", "interval", "lifetime",      "discard_history", "is_system_probe"};
}  // namespace

const std::unordered_map<std::string, ProbeCategory>& getProbeCategoryMap() {
  static const std::unordered_map<std::string, ProbeCategory> categories{
      {"SYSTEM", ProbeCategory::SYSTEM},
      {"CUSTOM", ProbeCategory::CUSTOM},
      {"ALL", ProbeCategory::ALL}};
  return categories;
}

void to_json(nlohmann::ordered_json& target, const Probe& probe) {
  target = nlohmann::ordered_json::object();
  target["id"] = probe.id;
  target["name"] = probe.name;
  target["internal_name"] = probe.internal_name;
  target["level"] = probe.level;
  target["platform"] = probe.platform;
  target["enabled"] = probe.enabled;
  target["interval"] = probe.interval;
  target["lifetime"] = probe.lifetime;
  target["discard_history"] = probe.discard_history;
  target["is_system_probe"] = probe.is_system_probe;
}

void from_json(const nlohmann::json& source, Probe& probe) {
  probe.id = toUnsigned32(source.at("id"));
  source.at("name").get_to(probe.name);
  source.at("internal_name").get_to(probe.internal_name);
  source.at("level").get_to(probe.level);
  source.at("platform").get_to(probe.platform);
  source.at("enabled").get_to(probe.enabled);
  probe.interval = toUnsigned32(source.at("interval"));
  probe.lifetime = toUnsigned32(source.at("lifetime"));
  source.at("discard_history").get_to(probe.discard_history);
  source.at("is_system_probe").get_to(probe.is_system_probe);
}

int ProbeReader::MemberIndex(std::string_view key) {
  for (int i = 0; i < static_cast<int>(kMembers); ++i) {
    if (kProbeMembers[i] == key) {
      return i;
    }
  }
  return -1;
}

Probe ProbeReader::Make(api::MemberValue* members) {
  Probe probe;
  probe.id = members[0].AsUnsigned32();
  probe.name = members[1].AsText();
  probe.internal_name = members[2].AsText();
  probe.level = members[3].AsText();
  probe.platform = members[4].AsText();
  probe.enabled = members[5].AsBoolean();
  probe.interval = members[6].AsUnsigned32();
  probe.lifetime = members[7].AsUnsigned32();
  probe.discard_history = members[8].AsBoolean();
  probe.is_system_probe = members[9].AsBoolean();
  return probe;
}

}  // namespace korv::cli
