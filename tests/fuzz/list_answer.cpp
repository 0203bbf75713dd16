// A list answer read as the list commands read it, straight from the parser's events, for both
// record kinds. It must give what the whole document converted with the JSON library gives (the
// same result, the same records), and the records must print as one JSON array.
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

template <typename Record>
void check(const std::string& text, const char* kind) {
  std::vector<Record> records;
  const korv::test::ListOutcome events{korv::cli::api::readRecordArray<Record>(text, records),
                                       korv::test::printAll(records)};
  const korv::test::ListOutcome document = korv::test::readFromDocument<Record>(text);
  if (!(events == document)) {
    std::fprintf(stderr, "%s: the events give %d:\n%s\nthe document gives %d:\n%s\n", kind,
                 static_cast<int>(events.result), events.printed.c_str(),
                 static_cast<int>(document.result), document.printed.c_str());
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
  check<korv::cli::Probe>(text, "probes");
  check<korv::cli::AlertTemplate>(text, "alert templates");
  return 0;
}
