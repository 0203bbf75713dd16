// list-probes: prints the enabled probes of one category as a JSON array, one probe per line.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "cli/command.h"
#include "probes/probe.h"

namespace korv::cli {

class ListProbes : public Command {
 public:
  ListProbes();

  void Perform() override;
  void Init(CLI::App* app) override;
  std::string Purpose() override;

  bool SetProbeCategory(const std::vector<std::string>& values);
  // Disabled probes never show; CUSTOM and SYSTEM show their own kind, ALL every probe.
  bool ProbeVisible(const Probe& probe) const;

 private:
  ProbeCategory category;
  std::ostream* out;
};

}  // namespace korv::cli
