// The exit statuses: README and the manual page list the same ones, each reached by a cause that
// a test runs.
#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "tests/support/cli_test.h"

namespace korv::test {
namespace {

// The statuses that the rows of a section of a documentation file name: "| 105 |", "*105*".
std::set<int> Listed(const std::string& name, const std::string& section, const std::string& row) {
  const std::string text = ReadFile(KORV_TEST_DATA "/../../" + name);
  const size_t start = text.find(section);
  const std::string part = text.substr(start, text.find("\n#", start + 1) - start);
  std::set<int> statuses;
  const std::regex rows(row), number(R"(\d+)");
  for (std::sregex_iterator at(part.begin(), part.end(), rows), end; at != end; ++at) {
    const std::string cells = (*at)[1];
    for (std::sregex_iterator n(cells.begin(), cells.end(), number); n != end; ++n) {
      statuses.insert(std::stoi(n->str()));
    }
  }
  return statuses;
}

class StatusTable : public CliTest {};

TEST_F(StatusTable, ListsTheSameStatusesInBothDocumentsAndEachHasACauseThatATestRuns) {
  // An option without its value, or given twice: no other test runs them.
  EXPECT_EQ(Run({"-p", "http://h/", "-u", "a", "list-probes", "-c"}).status, 114);
  EXPECT_EQ(Run({"-p", "http://h/", "-u", "a", "-f", "a", "-f", "b"}).status, 114);
  // The driver (memory running out among them), configuration, exchange, two-server, session and
  // interrupt tests and the suggestion test run the causes of the others.
  const std::set<int> reached = {0,   1,   3,   4,   5,   6,   103, 104, 105,
                                 106, 107, 109, 110, 114, 129, 130, 131, 143};
  EXPECT_EQ(Listed("README.md", "### Exit statuses", R"(\n\| ([0-9, ]+) \|)"), reached);
  EXPECT_EQ(Listed("packaging/korv-cli.1.scd", "# EXIT STATUS", R"(\n\*([0-9, ]+)\*\n)"), reached);
}

}  // namespace
}  // namespace korv::test
