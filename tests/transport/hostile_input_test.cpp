// Every parser test file of JSONTestSuite (y_: must parse, n_: must not, i_: either) as the item of
// an export answer: each run writes the answer compact with sorted keys, or ends with status 4 and
// the parse failure alone; it never crashes or hangs, and gives back every token it obtained.
#include <gtest/gtest.h>

#include <filesystem>

#include <nlohmann/json.hpp>

#include "tests/support/cli_test.h"

namespace korv::test {
namespace {

constexpr char kParseFailure[] = "Failed to parse the response from the KORV Server.\n";

// The files of one prefix, as tests of their own that ctest runs side by side.
class EverySuiteFile : public ServerTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(EverySuiteFile, AsTheItemOfAnExportAnswerIsWrittenCompactOrReportedAsUnparsable) {
  const std::string dir = std::string(KORV_TEST_DATA) + "/JSONTestSuite/test_parsing/";
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    const std::string name = entry.path().filename();
    if (name.rfind(GetParam(), 0) != 0) {
      continue;
    }
    const std::string item = ReadFile(dir + name);
    const std::string answer = R"({"probes":[)" + item + R"(],"version":1})";
    server.On("POST", "/api/v11/probe/custom/export/", Reply(200, answer));
    // As the client writes a JSON document; a NUL byte, where the JSON library would stop
    // reading, has no place in one.
    const nlohmann::json parsed = nlohmann::json::parse(answer, nullptr, false);
    const Shown expected = parsed.is_discarded() || item.find('\0') != std::string::npos
                               ? Shown{4, "", kParseFailure}
                               : Shown{0, parsed.dump(), ""};
    EXPECT_EQ(Showing(RunAgainst({"export-probes", "-i", "1"})), expected) << name;
  }
  EXPECT_EQ(Releases(), server.RequestsTo("POST", "/api/token/").size());
  EXPECT_GT(Releases(), 30u);  // the files were found
}

INSTANTIATE_TEST_SUITE_P(Prefix, EverySuiteFile, ::testing::Values("y_", "n_", "i_"),
                         [](const auto& info) { return std::string(1, info.param[0]); });

}  // namespace
}  // namespace korv::test
