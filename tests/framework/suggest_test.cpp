// A mistyped command line: one more line under the command-line library's own, the status kept.
#include <gtest/gtest.h>

#include "tests/support/cli_test.h"

namespace korv::test {
namespace {

using Flags = std::vector<std::string>;

class Suggestions : public CliTest {};

TEST_F(Suggestions, NameTheNearestWordOrTheAllowedValuesUnderTheLibrarysLine) {
  // Standard error: the library's line, ours and the pointer to help.
  const auto err = [](const std::string& line, const std::string& ours) {
    return line + "\n" + ours + "Run with --help for more information.\n";
  };
  const std::string extra = "The following argument was not expected: ";
  const std::string extras = "The following arguments were not expected: ";
  const auto did = [](const std::string& name) { return "Did you mean '" + name + "'?\n"; };
  WriteFile(home / "servers.toml", "[servers.a]\n[servers.b]\n", 0644);
  // The arguments after the server's, the status and standard error.
  const std::tuple<Flags, int, std::string> cases[] = {
      {{"lsit-probes"}, 109, err(extra + "lsit-probes", did("list-probes"))},
      {{"list-probes", "--categroy", "all"},
       109,
       err(extras + "all --categroy", did("--probe-category"))},
      {{"--sever", "x", "list-probes"}, 109, err(extras + "x --sever", did("--server"))},
      {{"migrate", "--form", "a", "--to", "b"}, 106, err("--from is required", did("--from"))},
      {{"list-probes", "--zzz"}, 109, err(extra + "--zzz", "")},
      {{"list-probes", "-l", "debug"},
       109,
       err(extras + "debug -l", "'-l' is a global option: put it before the subcommand name.\n")},
      {{"list-probes", "-c", "customs"},
       105,
       "--probe-category: Check customs value in {ALL->2,CUSTOM->1,SYSTEM->0} OR {2,1,0} FAILED\n"
       "Allowed: system, custom, all, in any letter case, or their numbers 0 to 2\n"},
      {{"--config", home / "servers.toml", "migrate", "--from", "a", "--to", "b", "--only",
        "Probes"},
       105,
       "--only: Probes not in {probes,alert-templates}\nAllowed: probes, alert-templates\n"},
  };
  for (const auto& [args, status, shown] : cases) {
    Flags all = {"-p", "http://127.0.0.1:1/", "-u", "a"};
    all.insert(all.end(), args.begin(), args.end());
    EXPECT_EQ(Showing(Run(all)), (Shown{status, "", shown}));
  }
}

}  // namespace
}  // namespace korv::test
