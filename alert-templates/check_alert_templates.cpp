#include "alert-templates/check_alert_templates.h"

#include <iostream>

#include <CLI/CLI.hpp>

#include "alert-templates/alert_template.h"
#include "common/logger.h"
#include "common/scope.h"
#include "exchange/check.h"
#include "exchange/result.h"

namespace korv::cli {

namespace {
CheckAlertTemplates command;
const api::FieldRulesOf<AlertTemplate> rules(api::kAlertTemplates);
}  // namespace

CheckAlertTemplates::CheckAlertTemplates()
    : Command("check-alert-templates", 250), out(&std::cout) {}

std::string CheckAlertTemplates::Purpose() {
  return "Check an alert template file offline; status 3 when it has problems.";
}

void CheckAlertTemplates::Init(CLI::App* app) {
  source.AddOption(app, "Alert template file");
  app->get_option("--in-file")->type_name("FILE");
  api::addJsonOption(app, json);
  app->footer(
      "Examples:\n"
      "  korv-cli check-alert-templates -i alert-templates.json\n"
      "  korv-cli check-alert-templates -i alert-templates.json --json > check.json\n"
      "  korv-cli --server old export-alert-templates"
      " | korv-cli check-alert-templates -i /dev/stdin\n");
}

void CheckAlertTemplates::Perform() {
  Scope reset([this] {
    source.Reset();
    json = false;
  });
  const bool problems = api::checkFile(
      api::kAlertTemplates, source, *out, json, [](const std::string& text) { LOG_INFO << text; },
      KORV_HERE);
  SetExitStatus(problems ? 3 : 0);
}

}  // namespace korv::cli
