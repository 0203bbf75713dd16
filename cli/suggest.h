// Help for a mistyped command line: the name a stray word most likely misspells, and the values
// that an option with a fixed set of values allows.
#pragma once

#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

#include <CLI/CLI.hpp>

namespace korv::cli {

// For a command line that was refused while some of its words went unused: one line about the
// first of them that is close to a name, "Did you mean 'list-probes'?", or, for a global option
// after the subcommand name, where it goes. "" when no word is close to anything.
//
// A word starting with "-" is compared with the options of the command it was given to (for a
// long name, also with each of its ends after a "-": "category" of "probe-category"), a word
// before any subcommand with the subcommand names. The distance counts the letters inserted,
// deleted or replaced and the neighbours swapped; a name is close at a distance of at most 2 and
// less than half the word's length (without its dashes). The nearest wins, the first in help
// order among equals.
std::string suggestion(const CLI::App& app);

// The check of a value against a fixed set, whose refusal gets a second line that names the
// values plainly: "Allowed: probes, alert-templates".
CLI::Validator allowing(const CLI::Validator& check, const std::string& values);

// CheckedTransformer(names, CLI::ignore_case), refusing with the names in the order of their
// numbers: "Allowed: system, custom, all, in any letter case, or their numbers 0 to 2".
template <typename Enum>
CLI::Validator oneOf(const std::unordered_map<std::string, Enum>& names) {
  std::vector<std::pair<int, std::string>> byNumber;
  for (const auto& [name, value] : names) {
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    byNumber.emplace_back(static_cast<int>(value), lower);
  }
  std::sort(byNumber.begin(), byNumber.end());
  std::string values;
  for (const auto& [number, name] : byNumber) {
    values += name + ", ";
  }
  values += "in any letter case, or their numbers " + std::to_string(byNumber.front().first) +
            " to " + std::to_string(byNumber.back().first);
  return allowing(CLI::CheckedTransformer(names, CLI::ignore_case), values);
}

}  // namespace korv::cli
