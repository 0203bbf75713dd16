// A list answer read as the list commands read it, the fast way where it can, must give what the
// whole document converted with the JSON library gives, for both record kinds: the same result and
// the same printed records.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "alert-templates/alert_template.h"
#include "probes/probe.h"
#include "tests/records/list_oracle.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string difference = korv::test::disagreement<korv::cli::Probe>(text) +
                                 korv::test::disagreement<korv::cli::AlertTemplate>(text);
  if (!difference.empty()) {
    std::fputs(difference.c_str(), stderr);
    std::abort();
  }
  return 0;
}
