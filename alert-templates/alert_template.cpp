#include "alert-templates/alert_template.h"

#include "common/compact_json.h"
#include "common/json_number.h"

namespace korv::cli {

namespace {

// A threshold value: a text, or null for none.
std::shared_ptr<std::string> thresholdValue(const nlohmann::json& value) {
  if (value.is_null()) {
    return nullptr;
  }
  return std::make_shared<std::string>(value.get<std::string>());
}

nlohmann::ordered_json thresholdText(const std::shared_ptr<std::string>& value) {
  return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
}

enum Member {
  kId,
  kName,
  kDescription,
  kIsSystemTemplate,
  kObjectType,
  kIsAutoCreate,
  kProbeDependencyList,
  kDefaultCheckFrequency,
  kDefaultHistoryRetention,
  kOperator,
  kLowThreshold,
  kMediumThreshold,
  kHighThreshold,
  kInfoSql,
};

constexpr std::string_view kMemberNames[AlertTemplateReader::kMembers] = {
    "id",
    "name",
    "description",
    "is_system_template",
    "object_type",
    "is_auto_create",
    "probe_dependency_list",
    "default_check_frequency",
    "default_history_retention",
    "operator",
    "low_threshold_value",
    "medium_threshold_value",
    "high_threshold_value",
    "info_sql",
};

// A threshold value from the parser's events: a text, or null for none.
std::shared_ptr<std::string> thresholdValue(const api::MemberValue& value) {
  if (value.IsNull()) {
    return nullptr;
  }
  return std::make_shared<std::string>(value.AsText());
}

}  // namespace

const std::unordered_map<std::string, AlertTemplateCategory>& getAlertTemplateCategoryMap() {
  static const std::unordered_map<std::string, AlertTemplateCategory> categories{
      {"SYSTEM", AlertTemplateCategory::SYSTEM},
      {"CUSTOM", AlertTemplateCategory::CUSTOM},
      {"ALL", AlertTemplateCategory::ALL}};
  return categories;
}

void from_json(const nlohmann::json& source, Threshold& threshold) {
  auto found = source.find("operator");
  if (found == source.end()) {
    return;
  }
  found->get_to(threshold.op);
  std::shared_ptr<std::string>* values[] = {&threshold.low, &threshold.medium, &threshold.high};
  const char* keys[] = {"low_threshold_value", "medium_threshold_value", "high_threshold_value"};
  for (size_t i = 0; i < 3; ++i) {
    found = source.find(keys[i]);
    if (found == source.end()) {
      return;
    }
    *values[i] = thresholdValue(*found);
  }
}

void to_json(nlohmann::ordered_json& target, const Threshold& threshold) {
  target = nlohmann::ordered_json::object();
  target["operator"] = threshold.op;
  target["low"] = thresholdText(threshold.low);
  target["medium"] = thresholdText(threshold.medium);
  target["high"] = thresholdText(threshold.high);
  if (!threshold.unit.empty()) {
    target["unit"] = threshold.unit;
  }
}

void from_json(const nlohmann::json& source, AlertTemplate& alertTemplate) {
  alertTemplate.id = toUnsigned32(source.at("id"));
  source.at("name").get_to(alertTemplate.name);
  source.at("description").get_to(alertTemplate.description);
  source.at("is_system_template").get_to(alertTemplate.is_system_template);
  source.at("object_type").get_to(alertTemplate.object_type);
  source.at("is_auto_create").get_to(alertTemplate.auto_create);
  source.at("probe_dependency_list").get_to(alertTemplate.probe_dependencies);
  alertTemplate.check_frequency = toUnsigned32(source.at("default_check_frequency"));
  alertTemplate.history_retention = toUnsigned32(source.at("default_history_retention"));
  source.get_to(alertTemplate.threshold);
  const nlohmann::json& infoSql = source.at("info_sql");
  alertTemplate.show_details = !infoSql.is_null() && !infoSql.get<std::string>().empty();
}

void to_json(nlohmann::ordered_json& target, const AlertTemplate& alertTemplate) {
  target = nlohmann::ordered_json::object();
  target["id"] = alertTemplate.id;
  target["name"] = alertTemplate.name;
  target["object_type"] = alertTemplate.object_type;
  target["server_type"] = alertTemplate.server_type;
  target["auto_create"] = alertTemplate.auto_create;
  target["is_system_template"] = alertTemplate.is_system_template;
  target["show_details"] = alertTemplate.show_details;
  target["probe_depenencies"] = alertTemplate.probe_dependencies;
  target["check_frequency"] = alertTemplate.check_frequency;
  target["history_retention"] = alertTemplate.history_retention;
  target["threshold"] = alertTemplate.threshold;
}

void appendCompact(std::string& out, const AlertTemplate& alertTemplate) {
  compact::key(out, "id", true);
  compact::number(out, alertTemplate.id);
  compact::key(out, "name");
  compact::text(out, alertTemplate.name);
  compact::key(out, "object_type");
  compact::text(out, alertTemplate.object_type);
  compact::key(out, "server_type");
  compact::text(out, alertTemplate.server_type);
  compact::key(out, "auto_create");
  compact::boolean(out, alertTemplate.auto_create);
  compact::key(out, "is_system_template");
  compact::boolean(out, alertTemplate.is_system_template);
  compact::key(out, "show_details");
  compact::boolean(out, alertTemplate.show_details);
  compact::key(out, "probe_depenencies");
  compact::texts(out, alertTemplate.probe_dependencies);
  compact::key(out, "check_frequency");
  compact::number(out, alertTemplate.check_frequency);
  compact::key(out, "history_retention");
  compact::number(out, alertTemplate.history_retention);
  const Threshold& threshold = alertTemplate.threshold;
  compact::key(out, "threshold");
  compact::key(out, "operator", true);
  compact::text(out, threshold.op);
  compact::key(out, "low");
  compact::optionalText(out, threshold.low);
  compact::key(out, "medium");
  compact::optionalText(out, threshold.medium);
  compact::key(out, "high");
  compact::optionalText(out, threshold.high);
  if (!threshold.unit.empty()) {
    compact::key(out, "unit");
    compact::text(out, threshold.unit);
  }
  out += "}}";
}

int AlertTemplateReader::MemberIndex(std::string_view key) {
  for (int i = 0; i < static_cast<int>(kMembers); ++i) {
    if (kMemberNames[i] == key) {
      return i;
    }
  }
  return -1;
}

bool AlertTemplateReader::IsTextList(int index) {
  return index == kProbeDependencyList;
}

AlertTemplate AlertTemplateReader::Make(api::MemberValue* members) {
  AlertTemplate alertTemplate;
  alertTemplate.id = members[kId].AsUnsigned32();
  alertTemplate.name = members[kName].TakeText();
  alertTemplate.description = members[kDescription].TakeText();
  alertTemplate.is_system_template = members[kIsSystemTemplate].AsBoolean();
  alertTemplate.object_type = members[kObjectType].TakeText();
  alertTemplate.auto_create = members[kIsAutoCreate].AsBoolean();
  alertTemplate.probe_dependencies = members[kProbeDependencyList].TakeTextList();
  alertTemplate.check_frequency = members[kDefaultCheckFrequency].AsUnsigned32();
  alertTemplate.history_retention = members[kDefaultHistoryRetention].AsUnsigned32();

  // The thresholds are read in order up to the first that is missing.
  Threshold& threshold = alertTemplate.threshold;
  if (!members[kOperator].IsMissing()) {
    threshold.op = members[kOperator].TakeText();
    std::shared_ptr<std::string>* values[] = {&threshold.low, &threshold.medium, &threshold.high};
    for (int i = 0; i < 3 && !members[kLowThreshold + i].IsMissing(); ++i) {
      *values[i] = thresholdValue(members[kLowThreshold + i]);
    }
  }

  const api::MemberValue& infoSql = members[kInfoSql];
  if (infoSql.IsMissing()) {
    throw api::ShapeError();
  }
  alertTemplate.show_details = !infoSql.IsNull() && !infoSql.AsText().empty();
  return alertTemplate;
}

}  // namespace korv::cli
