// list-alert-templates: prints the alert templates of one category as a JSON array, one per line.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "alert-templates/alert_template.h"
#include "cli/command.h"

namespace korv::cli {

class ListAlertTemplates : public Command {
 public:
  ListAlertTemplates();

  void Perform() override;
  void Init(CLI::App* app) override;
  std::string Purpose() override;

  bool SetAlertTemplateCategory(const std::vector<std::string>& values);
  // CUSTOM and SYSTEM show their own kind, ALL every template.
  bool AlertTemplateVisible(const AlertTemplate& alertTemplate) const;

 private:
  AlertTemplateCategory category;
  std::ostream* out;
};

}  // namespace korv::cli
