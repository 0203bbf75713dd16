#include "probes/list_probes.h"

#include <iostream>

#include <CLI/CLI.hpp>

#include "cli/suggest.h"
#include "exchange/exchange.h"
#include "exchange/kind.h"

namespace korv::cli {

namespace {
ListProbes command;
}  // namespace

ListProbes::ListProbes()
    : Command("list-probes", 110), category(ProbeCategory::CUSTOM), out(&std::cout) {}

std::string ListProbes::Purpose() {
  return "List the probes in the KORV Server.";
}

void ListProbes::Init(CLI::App* app) {
  app->add_option(
         "-c,--probe-category",
         [this](const std::vector<std::string>& values) { return SetProbeCategory(values); },
         "List down the probes of this category", true, [] { return std::string("CUSTOM"); })
      ->transform(oneOf(getProbeCategoryMap()), "");
}

bool ListProbes::SetProbeCategory(const std::vector<std::string>& values) {
  category = static_cast<ProbeCategory>(std::stoi(values.at(0), nullptr, 10));
  return true;
}

bool ListProbes::ProbeVisible(const Probe& probe) const {
  if (!probe.enabled) {
    return false;
  }
  if (category == ProbeCategory::CUSTOM && probe.is_system_probe) {
    return false;
  }
  if (category == ProbeCategory::SYSTEM && !probe.is_system_probe) {
    return false;
  }
  return true;
}

void ListProbes::Perform() {
  const auto connection = api::connect();
  connection->Perform(api::kProbes.listPath, "GET", "");
  api::printList<Probe>(
      *connection, *out, [this](const Probe& probe) { return ProbeVisible(probe); }, KORV_HERE);
}

}  // namespace korv::cli
