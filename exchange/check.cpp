#include "exchange/check.h"

#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <set>

#include "common/string_utils.h"
#include "exchange/result.h"

namespace korv::cli::api {

namespace {

using nlohmann::json;

bool isCount(const json& value) {
  return value.is_number_unsigned() &&
         value.get<std::uint64_t>() <= std::numeric_limits<std::uint32_t>::max();
}

bool hasType(const json& value, FieldType type) {
  switch (type) {
    case FieldType::Count:
      // A negative number is read as a signed integer: it is never a count.
      return isCount(value);
    case FieldType::Flag:
      return value.is_boolean();
    case FieldType::Text:
      return value.is_string();
    case FieldType::TextOrNull:
      return value.is_string() || value.is_null();
    case FieldType::TextList:
      if (!value.is_array()) {
        return false;
      }
      for (const json& element : value) {
        if (!element.is_string()) {
          return false;
        }
      }
      return true;
  }
  return false;
}

const char* describe(FieldType type) {
  switch (type) {
    case FieldType::Count:
      return "an unsigned 32-bit integer";
    case FieldType::Flag:
      return "a boolean";
    case FieldType::Text:
      return "a string";
    case FieldType::TextOrNull:
      return "a string or null";
    case FieldType::TextList:
      return "an array of strings";
  }
  return "";
}

// Numbers with dots between them, at least two: "11.0".
bool knownVersion(const json& version) {
  if (!version.is_string()) {
    return false;
  }
  const std::string& text = version.get_ref<const std::string&>();
  bool digit = false, dot = false;
  for (const char c : text) {
    if (c == '.') {
      if (!digit) {
        return false;
      }
      digit = false;
      dot = true;
    } else if (c >= '0' && c <= '9') {
      digit = true;
    } else {
      return false;
    }
  }
  return digit && dot;
}

std::map<const Kind*, MakeRules>& makers() {
  static std::map<const Kind*, MakeRules> byKind;
  return byKind;
}

// The kind's rules; none when no library gave them.
std::vector<FieldRule> rulesOf(const Kind& kind) {
  const auto found = makers().find(&kind);
  return found != makers().end() ? found->second() : std::vector<FieldRule>{};
}

struct Problem {
  std::string shown;  // the name in the table
  std::string name;
  const char* kind;  // "file" for the file's own problems
  std::string text;
  bool note = false;
};

class Checker {
 public:
  explicit Checker(const Kind& kind)
      : kind(kind), itemRules(rulesOf(kind)), probeRules(rulesOf(kProbes)) {}

  std::vector<Problem> Check(const json& file, const std::string& fileName) {
    if (!knownVersion(file.at("version"))) {
      Add({fileName, fileName, "file"}, "Unknown version format " + file.at("version").dump() +
                                            ": numbers with dots are expected, such as \"11.0\"");
    }
    const json& items = file.at(kind.itemsKey);
    std::set<std::string> carried;
    if (kind.CarriesProbes()) {
      for (const json& item : items) {
        for (const json& probe : CarriedProbes(item)) {
          if (probe.is_object() && probe.contains("name") && probe.at("name").is_string()) {
            carried.insert(probe.at("name").get<std::string>());
          }
        }
      }
    }
    std::map<std::string, std::size_t> seen;
    for (std::size_t i = 0; i < items.size(); ++i) {
      const std::string unnamed = "Item " + std::to_string(i + 1);
      const std::string name = CheckItem(items[i], unnamed, false);
      const auto [first, isNew] = seen.emplace(name, i + 1);
      if (!name.empty() && !isNew) {
        Add(Named(name, false),
            string::format("Duplicate name: items %lu and %lu have it; an import keeps the "
                           "last",
                           static_cast<unsigned long>(first->second),
                           static_cast<unsigned long>(i + 1)));
      }
      if (kind.CarriesProbes() && items[i].is_object()) {
        CheckCarried(items[i], name.empty() ? unnamed : name, carried);
      }
    }
    return std::move(problems);
  }

 private:
  struct Subject {
    std::string shown;
    std::string name;
    const char* kind;
  };
  // An item of the file, or a probe that one carries, by its name or its label.
  Subject Named(const std::string& name, bool carried) const {
    return {carried ? "Probe '" + name + "'" : name, name,
            carried ? kProbes.resultKind : kind.resultKind};
  }
  void Add(const Subject& subject, const std::string& text, bool note = false) {
    problems.push_back({subject.shown, subject.name, subject.kind, text, note});
  }

  // The probes an item carries; none when it carries none or they are not an array.
  const json& CarriedProbes(const json& item) const {
    static const json none = json::array();
    if (item.is_object()) {
      const auto found = item.find(kind.carriedKey);
      if (found != item.end() && found->is_array()) {
        return *found;
      }
    }
    return none;
  }

  // Checks one item or carried probe; returns its name, "" when it has none.
  std::string CheckItem(const json& item, const std::string& unnamed, bool carried) {
    const Subject label{unnamed, unnamed, carried ? kProbes.resultKind : kind.resultKind};
    if (!item.is_object()) {
      Add(label, "Not a JSON object");
      return "";
    }
    const auto nameMember = item.find("name");
    const bool named = nameMember != item.end() && nameMember->is_string() &&
                       !nameMember->get_ref<const std::string&>().empty();
    const std::string name = named ? nameMember->get<std::string>() : "";
    const Subject shown = named ? Named(name, carried) : label;
    if (!named) {
      Add(label, "No name: 'name' must be a non-empty string");
    }
    for (const FieldRule& rule : carried ? probeRules : itemRules) {
      const auto found = item.find(rule.key);
      if (found != item.end() && (rule.key != "name" || named) && !hasType(*found, rule.type)) {
        Add(shown, string::format("Field '%s' must be %s, not %s", std::string(rule.key),
                                  describe(rule.type), found->type_name()));
      }
    }
    return name;
  }

  void CheckCarried(const json& item, const std::string& name,
                    const std::set<std::string>& carried) {
    const auto probes = item.find(kind.carriedKey);
    if (probes != item.end() && !probes->is_array()) {
      Add(Named(name, false), string::format("Field '%s' must be an array of probes, not %s",
                                             kind.carriedKey, probes->type_name()));
    }
    const json& list = CarriedProbes(item);
    for (std::size_t i = 0; i < list.size(); ++i) {
      CheckItem(list[i],
                string::format("Probe %lu of '%s'", static_cast<unsigned long>(i + 1), name), true);
    }
    const auto dependencies = item.find(kind.dependencyKey);
    if (dependencies == item.end() || !hasType(*dependencies, FieldType::TextList)) {
      return;
    }
    for (const json& dependency : *dependencies) {
      if (carried.count(dependency.get<std::string>()) == 0) {
        Add(Named(name, false),
            "Note: depends on probe '" + dependency.get<std::string>() +
                "', which the file does not carry; the server must have it",
            true);
      }
    }
  }

  const Kind& kind;
  const std::vector<FieldRule> itemRules;
  const std::vector<FieldRule> probeRules;
  std::vector<Problem> problems;
};

}  // namespace

void setFieldRules(const Kind& kind, MakeRules make) {
  makers()[&kind] = make;
}

bool checkFile(const Kind& kind, ImportSource& source, std::ostream& out, bool json, const Log& log,
               const Place& place) {
  const nlohmann::json file = readExportFile(kind, source, log, place);
  const std::vector<Problem> problems = Checker(kind).Check(file, source.FileName());
  std::optional<ResultWriter> result;
  if (json) {
    result.emplace(streamSink(out, place));
  } else if (!problems.empty()) {
    out << "Name, Problem" << std::endl;
    out << "====, =======" << std::endl;
  }
  bool found = false;
  for (const Problem& problem : problems) {
    found = found || !problem.note;
    if (result) {
      result->Item({{"name", problem.name},
                    {"kind", problem.kind},
                    {"problem", problem.text},
                    {"note", problem.note}});
      continue;
    }
    std::string line;
    string::appendEscaped(line, problem.shown, false);
    line += ", ";
    string::appendEscaped(line, problem.text, false);
    out << line << std::endl;
    checkStandardOutput(out, place);
  }
  if (result) {
    result->Finish();
  }
  return found;
}

}  // namespace korv::cli::api
