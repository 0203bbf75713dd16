// Documents nested deeper than the limit are refused wherever a whole text is read; brackets
// inside strings are text, not nesting.
#include <gtest/gtest.h>

#include "api/record_stream.h"
#include "probes/probe.h"

namespace korv::cli::api {
namespace {

std::string nested(size_t levels, const std::string& inside = "") {
  return std::string(levels, '[') + inside + std::string(levels, ']');
}

TEST(Nesting, IsRefusedOneLevelBeyondTheLimitAndNotCountedInsideStrings) {
  const std::string brackets(3 * kMaxNesting, '[');
  const std::pair<std::string, bool> texts[] = {{nested(kMaxNesting), true},
                                                {nested(kMaxNesting + 1), false},
                                                {"{\"a\":" + nested(kMaxNesting) + "}", false},
                                                {nested(kMaxNesting, "\"" + brackets + "\""), true},
                                                {"[\"\\\"" + brackets + "\"]", true},
                                                {"[\"\\\\\"," + nested(kMaxNesting) + "]", false}};
  for (const auto& [text, accepted] : texts) {
    EXPECT_EQ(parseText(text).has_value(), accepted) << text.substr(0, 20) << text.size();
    std::vector<Probe> records;
    EXPECT_EQ(readRecordArray(text, records) != ReadResult::NotJson, accepted);
  }
}

}  // namespace
}  // namespace korv::cli::api
