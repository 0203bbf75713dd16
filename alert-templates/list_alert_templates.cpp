#include "alert-templates/list_alert_templates.h"

#include <iostream>

#include <CLI/CLI.hpp>

#include "cli/suggest.h"
#include "exchange/exchange.h"
#include "exchange/kind.h"

namespace korv::cli {

namespace {
ListAlertTemplates command;
}  // namespace

ListAlertTemplates::ListAlertTemplates()
    : Command("list-alert-templates", 210),
      category(AlertTemplateCategory::CUSTOM),
      out(&std::cout) {}

std::string ListAlertTemplates::Purpose() {
  return "List the alert templates in the KORV Server.";
}

void ListAlertTemplates::Init(CLI::App* app) {
  app->add_option(
         "-c,--alert-template-category",
         [this](const std::vector<std::string>& values) {
           return SetAlertTemplateCategory(values);
         },
         "List down the alert templates of this category", true,
         [] { return std::string("CUSTOM"); })
      ->transform(oneOf(getAlertTemplateCategoryMap()), "");
}

bool ListAlertTemplates::SetAlertTemplateCategory(const std::vector<std::string>& values) {
  category = static_cast<AlertTemplateCategory>(std::stoi(values.at(0), nullptr, 10));
  return true;
}

bool ListAlertTemplates::AlertTemplateVisible(const AlertTemplate& alertTemplate) const {
  switch (category) {
    case AlertTemplateCategory::CUSTOM:
      return !alertTemplate.is_system_template;
    case AlertTemplateCategory::SYSTEM:
      return alertTemplate.is_system_template;
    default:
      return true;
  }
}

void ListAlertTemplates::Perform() {
  const auto connection = api::connect();
  connection->Perform(api::kAlertTemplates.listPath, "GET", "");
  api::printList<AlertTemplate>(
      *connection, *out,
      [this](const AlertTemplate& alertTemplate) { return AlertTemplateVisible(alertTemplate); },
      KORV_HERE);
}

}  // namespace korv::cli
