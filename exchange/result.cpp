#include "exchange/result.h"

#include <ostream>

#include <CLI/CLI.hpp>

#include "common/output.h"
#include "common/string_utils.h"

namespace korv::cli::api {

void addJsonOption(CLI::App* app, bool& json) {
  app->add_flag("--json", json,
                "Print the result as one JSON object instead of the tables\n"
                "(see the manual).");
}

ResultWriter::ResultWriter(Sink write) : write(std::move(write)) {
  this->write("{\"items\":[");
}

void ResultWriter::Item(const nlohmann::ordered_json& item) {
  // A name from a server or a file need not be valid UTF-8: such bytes become U+FFFD.
  write((first ? "\n" : ",\n") +
        item.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace));
  first = false;
}

void ResultWriter::CompactItem(std::string_view item) {
  write(first ? "\n" : ",\n");
  write(item);
  first = false;
}

void ResultWriter::Finish(const nlohmann::ordered_json& members) {
  std::string end = first ? "]" : "\n]";
  for (const auto& [key, value] : members.items()) {
    end += "," + nlohmann::json(key).dump() + ":" +
           value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
  }
  write(end + "}\n");
}

Sink streamSink(std::ostream& out, const Place& place) {
  return [&out, place](std::string_view text) {
    out << text;
    // The end of a result is flushed, so that a failure to write it is reported.
    if (!text.empty() && text.back() == '\n') {
      out.flush();
    }
    checkStandardOutput(out, place);
  };
}

void appendPlanMembers(std::string& out, const Plan& plan, const Row& row, std::string_view name) {
  // Names and texts come from parsed documents: valid UTF-8 that needs only JSON's escapes. The
  // field names and values are the compact texts of the items, written as they stand.
  out += "\"name\":\"";
  string::appendEscaped(out, name, true);
  out += "\",\"kind\":\"";
  out += row.carriedProbe ? kProbes.resultKind : plan.kind->resultKind;
  out += "\",\"change\":\"";
  out += changeText(row.change);
  out += "\",\"fields\":[";
  for (std::size_t i = 0; i < row.fields.size(); ++i) {
    out.append(i == 0 ? "\"" : ",\"").append(row.fields[i].Name()).append("\"");
  }
  out += "],\"values\":{";
  for (std::size_t i = 0; i < row.fields.size(); ++i) {
    const FieldChange& field = row.fields[i];
    const std::string_view server = field.Server(), file = field.File();
    out.append(i == 0 ? "\"" : ",\"").append(field.Name()).append("\":{");
    if (!server.empty()) {
      out.append("\"server\":").append(server);
    }
    if (!file.empty()) {
      out.append(server.empty() ? "\"file\":" : ",\"file\":").append(file);
    }
    out += "}";
  }
  out += "}";
}

std::vector<Verdict> carriedVerdicts(const std::string& reason) {
  constexpr std::string_view opening = "Probe '";
  std::vector<Verdict> verdicts;
  std::size_t start = 0;
  while (start < reason.size()) {
    const std::size_t end = std::min(reason.find("; ", start), reason.size());
    const std::string_view note(reason.data() + start, end - start);
    start = end + 2;
    if (note.substr(0, opening.size()) != opening) {
      continue;
    }
    // The name ends at the first "' " that a status word follows, alone or with its text in
    // brackets.
    for (std::size_t quote = note.find("' ", opening.size()); quote != std::string_view::npos;
         quote = note.find("' ", quote + 1)) {
      const std::string_view rest = note.substr(quote + 2);
      const std::size_t word = std::min(rest.find(' '), rest.size());
      const bool plain = word == rest.size(),
                 bracketed = rest.substr(word, 2) == " (" && rest.back() == ')';
      if (word == 0 ||
          rest.substr(0, word).find_first_not_of("abcdefghijklmnopqrstuvwxyz_") !=
              std::string_view::npos ||
          !(plain || bracketed)) {
        continue;
      }
      const std::string status(rest.substr(0, word));
      verdicts.push_back(
          {std::string(note.substr(opening.size(), quote - opening.size())), status,
           plain ? status : std::string(rest.substr(word + 2, rest.size() - word - 3))});
      break;
    }
  }
  return verdicts;
}

void writeVerdicts(ResultWriter& result, const Kind& kind, const std::vector<Verdict>& verdicts) {
  const auto write = [&result](const Verdict& verdict, const char* kindName) {
    result.Item({{"name", verdict.name},
                 {"kind", kindName},
                 {"status", verdict.status},
                 {"reason", verdict.reason}});
  };
  for (const Verdict& verdict : verdicts) {
    write(verdict, kind.resultKind);
    if (kind.CarriesProbes()) {
      for (const Verdict& probe : carriedVerdicts(verdict.reason)) {
        write(probe, kProbes.resultKind);
      }
    }
  }
}

}  // namespace korv::cli::api
