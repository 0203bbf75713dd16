#include "alert-templates/alert_template.h"

namespace korv::cli {

const std::vector<api::Field<AlertTemplate>> AlertTemplate::fields = {
    {"id", "id", &AlertTemplate::id},
    {"name", "name", &AlertTemplate::name},
    {"description", "", &AlertTemplate::description},
    {"object_type", "object_type", &AlertTemplate::object_type},
    {"", "server_type", &AlertTemplate::server_type},
    {"is_auto_create", "auto_create", &AlertTemplate::auto_create},
    {"is_system_template", "is_system_template", &AlertTemplate::is_system_template},
    {"info_sql", "show_details", &AlertTemplate::show_details},
    // "probe_depenencies" is the system's own spelling, kept on purpose.
    {"probe_dependency_list", "probe_depenencies", &AlertTemplate::probe_dependencies},
    {"default_check_frequency", "check_frequency", &AlertTemplate::check_frequency},
    {"default_history_retention", "history_retention", &AlertTemplate::history_retention},
    {"operator", "operator", &AlertTemplate::op, true, "threshold"},
    {"low_threshold_value", "low", &AlertTemplate::low, true, "threshold"},
    {"medium_threshold_value", "medium", &AlertTemplate::medium, true, "threshold"},
    {"high_threshold_value", "high", &AlertTemplate::high, true, "threshold"},
};

const std::unordered_map<std::string, AlertTemplateCategory>& getAlertTemplateCategoryMap() {
  static const std::unordered_map<std::string, AlertTemplateCategory> categories{
      {"SYSTEM", AlertTemplateCategory::SYSTEM},
      {"CUSTOM", AlertTemplateCategory::CUSTOM},
      {"ALL", AlertTemplateCategory::ALL}};
  return categories;
}

}  // namespace korv::cli
