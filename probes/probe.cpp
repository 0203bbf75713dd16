#include "probes/probe.h"

#include "common/json_number.h"

namespace korv::cli {

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

}  // namespace korv::cli
