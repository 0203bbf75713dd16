#include "probes/probe.h"

#include "common/compact_json.h"
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

void appendCompact(std::string& out, const Probe& probe) {
  compact::key(out, "id", true);
  compact::number(out, probe.id);
  compact::key(out, "name");
  compact::text(out, probe.name);
  compact::key(out, "internal_name");
  compact::text(out, probe.internal_name);
  compact::key(out, "level");
  compact::text(out, probe.level);
  compact::key(out, "platform");
  compact::text(out, probe.platform);
  compact::key(out, "enabled");
  compact::boolean(out, probe.enabled);
  compact::key(out, "interval");
  compact::number(out, probe.interval);
  compact::key(out, "lifetime");
  compact::number(out, probe.lifetime);
  compact::key(out, "discard_history");
  compact::boolean(out, probe.discard_history);
  compact::key(out, "is_system_probe");
  compact::boolean(out, probe.is_system_probe);
  out += '}';
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
  probe.name = members[1].TakeText();
  probe.internal_name = members[2].TakeText();
  probe.level = members[3].TakeText();
  probe.platform = members[4].TakeText();
  probe.enabled = members[5].AsBoolean();
  probe.interval = members[6].AsUnsigned32();
  probe.lifetime = members[7].AsUnsigned32();
  probe.discard_history = members[8].AsBoolean();
  probe.is_system_probe = members[9].AsBoolean();
  return probe;
}

}  // namespace korv::cli
