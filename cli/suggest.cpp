#include "cli/suggest.h"

#include <optional>

namespace korv::cli {

namespace {

constexpr size_t kFar = 3;

// The optimal string alignment distance, or kFar when it is more than 2.
size_t distance(const std::string& a, const std::string& b) {
  if (a.size() > b.size() + 2 || b.size() > a.size() + 2) {
    return kFar;
  }
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) {
    d[i][0] = i;
  }
  for (size_t j = 0; j <= b.size(); ++j) {
    d[0][j] = j;
  }
  for (size_t i = 1; i <= a.size(); ++i) {
    for (size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min(
          {d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return std::min(d[a.size()][b.size()], kFar);
}

// A word without its leading dashes and without "=value".
std::string bare(const std::string& word) {
  const size_t start = word.find_first_not_of('-');
  return start == std::string::npos ? "" : word.substr(start, word.find('=') - start);
}

// A name to suggest and the words that stand for it.
struct Candidate {
  std::string shown;
  std::vector<std::string> forms;
};

std::vector<Candidate> optionsOf(const CLI::App& app) {
  std::vector<Candidate> candidates;
  for (const CLI::Option* option :
       app.get_options([](const CLI::Option* one) { return !one->get_group().empty(); })) {
    Candidate candidate{option->get_name(), option->get_snames()};
    for (const std::string& name : option->get_lnames()) {
      for (size_t at = 0; at != std::string::npos; at = name.find('-', at + 1)) {
        candidate.forms.push_back(name.substr(at == 0 ? 0 : at + 1));
      }
    }
    candidates.push_back(candidate);
  }
  return candidates;
}

std::optional<std::string> nearest(const std::string& word,
                                   const std::vector<Candidate>& candidates) {
  const std::string plain = bare(word);
  std::optional<std::string> best;
  size_t bestDistance = kFar;
  for (const Candidate& candidate : candidates) {
    for (const std::string& form : candidate.forms) {
      const size_t d = distance(plain, form);
      if (d < bestDistance && 2 * d < plain.size()) {
        best = candidate.shown;
        bestDistance = d;
      }
    }
  }
  return best;
}

}  // namespace

std::string suggestion(const CLI::App& app) {
  const std::vector<CLI::App*> chosen = app.get_subcommands();
  std::vector<Candidate> commands;
  for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; })) {
    commands.push_back({command->get_name(), {command->get_name()}});
  }
  const std::vector<Candidate> globals = optionsOf(app);
  for (const std::string& word : app.remaining()) {
    const bool option = word.rfind('-', 0) == 0;
    if (!option && !chosen.empty()) {
      continue;
    }
    if (const auto name = nearest(word, option ? globals : commands)) {
      return "Did you mean '" + *name + "'?";
    }
  }
  for (const CLI::App* command : chosen) {
    for (const std::string& word : command->remaining()) {
      if (word.rfind('-', 0) != 0) {
        continue;
      }
      if (const auto name = nearest(word, optionsOf(*command))) {
        return "Did you mean '" + *name + "'?";
      }
      const std::string name = word.substr(0, word.find('='));
      if (const CLI::Option* global = app.get_option_no_throw(name);
          global != nullptr && !global->get_group().empty()) {
        return "'" + name + "' is a global option: put it before the subcommand name.";
      }
    }
  }
  return "";
}

CLI::Validator allowing(const CLI::Validator& check, const std::string& values) {
  return CLI::Validator(
      [check, values](std::string& value) {
        const std::string problem = check(value);
        return problem.empty() ? problem : problem + "\nAllowed: " + values;
      },
      check.get_description());
}

}  // namespace korv::cli
