// A list answer read as the list commands read it, straight from the parser's events, for both
// record kinds. It must give what the whole document converted with from_json gives (the same
// result, the same records), and the records must print as one JSON array.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "alert-templates/alert_template.h"
#include "api/exchange.h"
#include "probes/probe.h"
#include "tests/support/list_oracle.h"

namespace {

using korv::test::ListOutcome;

template <typename Reader>
void check(const std::string& text, const char* kind) {
  std::vector<typename Reader::Record> records;
  const ListOutcome events{korv::cli::api::readRecordArray<Reader>(text, records),
                           korv::test::printAll(records)};
  const ListOutcome document = korv::test::readFromDocument<Reader>(text);
  if (!(events == document)) {
    std::fprintf(stderr, "%s: the events give %s:\n%s\nthe document gives %s:\n%s\n", kind,
                 korv::test::describe(events.result), events.printed.c_str(),
                 korv::test::describe(document.result), document.printed.c_str());
    std::abort();
  }

  // Printed by the list commands: "[", the lines separated by ",", "]".
  std::ostringstream out;
  korv::cli::api::printRecords(
      out, records, [](const auto&) { return true; }, korv::Place{"", 0});
  std::string expected = "[";
  std::istringstream lines(events.printed);
  for (std::string line; std::getline(lines, line);) {
    expected += (expected.size() == 1 ? "\n" : ",\n") + line;
  }
  expected += expected.size() == 1 ? "]\n" : "\n]\n";
  if (out.str() != expected) {
    std::fprintf(stderr, "%s: printed\n%s\ninstead of\n%s\n", kind, out.str().c_str(),
                 expected.c_str());
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  check<korv::cli::ProbeReader>(text, "probes");
  check<korv::cli::AlertTemplateReader>(text, "alert templates");
  return 0;
}
