// The atomic output file in process, where a name can be taken while the content is written.
#include <gtest/gtest.h>

#include "common/output.h"
#include "tests/support/temp_dir.h"

namespace korv::test {
namespace {

TEST(AtomicFile, ForANewNameLeavesAFileThatTookTheNameMeanwhileAndNothingElseBehind) {
  TempDir dir;
  const std::string name = dir / "new.json";
  AtomicFile file;
  ASSERT_TRUE(file.Open(name, false));
  file.Stream() << "export";
  WriteFile(name, "theirs");
  EXPECT_FALSE(file.Commit());
  EXPECT_EQ(ReadFile(name), "theirs");
  EXPECT_EQ(Entries(dir.Path()), std::vector<std::string>{"new.json"});
}

}  // namespace
}  // namespace korv::test
