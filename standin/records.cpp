#include "records.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

namespace korv::standin {
namespace {

using nlohmann::json;

enum class Kind { Text, Name, Flag, Count, TextOrNull, TextList };

struct Field {
  const char* key;
  Kind kind;
  // The value an import gets when it leaves the key out; none means the key is required.
  std::optional<json> fallback;
};

const std::vector<Field>& probeFields() {
  static const std::vector<Field> fields = {
      {"name", Kind::Name, std::nullopt},   {"internal_name", Kind::Name, std::nullopt},
      {"level", Kind::Text, std::nullopt},  {"platform", Kind::Text, std::nullopt},
      {"enabled", Kind::Flag, json(true)},  {"interval", Kind::Count, json(60)},
      {"lifetime", Kind::Count, json(180)}, {"discard_history", Kind::Flag, json(false)},
  };
  return fields;
}

const std::vector<Field>& templateFields() {
  static const std::vector<Field> fields = {
      {"name", Kind::Name, std::nullopt},
      {"object_type", Kind::Text, std::nullopt},
      {"probe_dependency_list", Kind::TextList, std::nullopt},
      {"description", Kind::Text, json("")},
      {"is_auto_create", Kind::Flag, json(false)},
      {"default_check_frequency", Kind::Count, json(5)},
      {"default_history_retention", Kind::Count, json(30)},
      {"info_sql", Kind::TextOrNull, json(nullptr)},
      {"operator", Kind::Text, json(">")},
      {"low_threshold_value", Kind::TextOrNull, json(nullptr)},
      {"medium_threshold_value", Kind::TextOrNull, json(nullptr)},
      {"high_threshold_value", Kind::TextOrNull, json(nullptr)},
  };
  return fields;
}

// Counts are read by clients as unsigned 32-bit numbers.
bool isCount(const json& value) {
  if (value.is_number_unsigned()) {
    return value.get<std::uint64_t>() <= std::numeric_limits<std::uint32_t>::max();
  }
  if (value.is_number_integer()) {
    const auto number = value.get<std::int64_t>();
    return number >= 0 && number <= std::numeric_limits<std::uint32_t>::max();
  }
  return false;
}

bool hasKind(const json& value, Kind kind) {
  switch (kind) {
    case Kind::Text:
      return value.is_string();
    case Kind::Name:
      return value.is_string() && !value.get_ref<const std::string&>().empty();
    case Kind::Flag:
      return value.is_boolean();
    case Kind::Count:
      return isCount(value);
    case Kind::TextOrNull:
      return value.is_string() || value.is_null();
    case Kind::TextList:
      if (!value.is_array()) {
        return false;
      }
      for (const auto& element : value) {
        if (!element.is_string()) {
          return false;
        }
      }
      return true;
  }
  return false;
}

const char* describe(Kind kind) {
  switch (kind) {
    case Kind::Text:
      return "a string";
    case Kind::Name:
      return "a non-empty string";
    case Kind::Flag:
      return "a boolean";
    case Kind::Count:
      return "an unsigned 32-bit integer";
    case Kind::TextOrNull:
      return "a string or null";
    case Kind::TextList:
      return "an array of strings";
  }
  return "";
}

std::string fieldProblem(const json& record, const Field& field, bool required) {
  const auto found = record.find(field.key);
  if (found == record.end()) {
    return required ? std::string("Missing member '") + field.key + "'" : std::string();
  }
  if (!hasKind(*found, field.kind)) {
    return std::string("Member '") + field.key + "' must be " + describe(field.kind);
  }
  return {};
}

std::string storedProblem(const json& record, const std::vector<Field>& fields,
                          const char* systemKey) {
  if (!record.is_object()) {
    return "Not a JSON object";
  }
  const std::vector<Field> serverFields = {{"id", Kind::Count, std::nullopt},
                                           {systemKey, Kind::Flag, std::nullopt}};
  for (const auto* list : {&serverFields, &fields}) {
    for (const auto& field : *list) {
      auto problem = fieldProblem(record, field, true);
      if (!problem.empty()) {
        return problem;
      }
    }
  }
  return {};
}

std::string completeImported(json& record, const std::vector<Field>& fields) {
  if (!record.is_object()) {
    return "Not a JSON object";
  }
  for (const auto& field : fields) {
    auto problem = fieldProblem(record, field, !field.fallback.has_value());
    if (!problem.empty()) {
      return problem;
    }
  }
  for (const auto& field : fields) {
    if (field.fallback && !record.contains(field.key)) {
      record[field.key] = *field.fallback;
    }
  }
  return {};
}

}  // namespace

std::string storedProbeProblem(const json& probe) {
  return storedProblem(probe, probeFields(), kSystemProbeKey);
}

std::string storedTemplateProblem(const json& alertTemplate) {
  return storedProblem(alertTemplate, templateFields(), kSystemTemplateKey);
}

std::string completeImportedProbe(json& probe) {
  return completeImported(probe, probeFields());
}

std::string completeImportedTemplate(json& alertTemplate) {
  return completeImported(alertTemplate, templateFields());
}

bool nestedTooDeep(const std::string& text) {
  std::size_t depth = 0;
  bool inString = false;
  bool escaped = false;
  for (const char c : text) {
    if (inString) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxNesting) {
        return true;
      }
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return false;
}

json parseRecords(const std::string& text, const std::vector<std::string>& arrayNames,
                  const RecordSink& take) {
  using Event = json::parse_event_t;
  std::string member;    // the top-level member being read
  bool inArray = false;  // whether it is a record array
  const json::parser_callback_t callback = [&](int depth, Event event, json& value) {
    if (depth == 1 && event == Event::key) {
      member = value.get<std::string>();
    } else if (depth == 1 && event == Event::array_start) {
      inArray = std::find(arrayNames.begin(), arrayNames.end(), member) != arrayNames.end();
    } else if (depth == 1 && event == Event::array_end) {
      inArray = false;
    } else if (depth == 2 && inArray &&
               (event == Event::object_end || event == Event::array_end || event == Event::value)) {
      take(member, value);
      return false;  // left out of the document
    }
    return true;
  };
  return json::parse(text, callback);
}

}  // namespace korv::standin
