// The records a new data file starts with: what a freshly installed server ships (system probes
// and system alert templates), and optionally a few records a user might have added.
#pragma once

#include <nlohmann/json.hpp>

namespace korv::standin {

struct SampleSet {
  nlohmann::json probes = nlohmann::json::array();
  nlohmann::json alertTemplates = nlohmann::json::array();
};

// Records without ids, system ones first; the custom ones only when asked for. Some custom alert
// templates depend on custom probes, some on system probes, one on both.
SampleSet sampleRecords(bool withCustomSamples);

}  // namespace korv::standin
