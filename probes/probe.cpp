#include "probes/probe.h"

namespace korv::cli {

const std::vector<api::Field<Probe>> Probe::fields = {
    {"id", "id", &Probe::id},
    {"name", "name", &Probe::name},
    {"internal_name", "internal_name", &Probe::internal_name},
    {"level", "level", &Probe::level},
    {"platform", "platform", &Probe::platform},
    {"enabled", "enabled", &Probe::enabled},
    {"interval", "interval", &Probe::interval},
    {"lifetime", "lifetime", &Probe::lifetime},
    {"discard_history", "discard_history", &Probe::discard_history},
    {"is_system_probe", "is_system_probe", &Probe::is_system_probe},
};

const std::unordered_map<std::string, ProbeCategory>& getProbeCategoryMap() {
  static const std::unordered_map<std::string, ProbeCategory> categories{
      {"SYSTEM", ProbeCategory::SYSTEM},
      {"CUSTOM", ProbeCategory::CUSTOM},
      {"ALL", ProbeCategory::ALL}};
  return categories;
}

}  // namespace korv::cli
