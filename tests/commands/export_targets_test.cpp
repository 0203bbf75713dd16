// What "-o" names keeps its identity: a FIFO, standard output, a link, a file with other names or
// another owner get the export written into them; only a file that nothing else refers to is
// replaced by a new one.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/support/cli_test.h"

namespace korv::test {
namespace {

constexpr char kExport[] = R"({"probes":[{"id":3}],"version":1})";

class ExportTarget : public ServerTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);  // so that its writer does not block
    ASSERT_EQ(::symlink("linked.json", link.c_str()), 0);
    WriteFile(file, "earlier", 0640);
    ASSERT_EQ(::link(file.c_str(), (home / "other-name.json").c_str()), 0);
  }
  void TearDown() override { ::close(reader); }
  // Exports the answer into each target; the output of the last run.
  std::string Export(int status, const std::string& answer, std::vector<std::string> targets) {
    server.On("POST", "/api/v11/probe/custom/export/", Reply(status, answer));
    ProcessResult result;
    for (const std::string& target : targets) {
      result = RunAgainst({"export-probes", "-w", "-o", target});
      EXPECT_EQ(result.status, status == 200 ? 0 : 4) << target << result.err;
    }
    return result.out;
  }
  std::string FromFifo() const {
    char buffer[256];
    const ssize_t size = ::read(reader, buffer, sizeof buffer);
    return std::string(buffer, size > 0 ? static_cast<size_t>(size) : 0);
  }

  const std::string fifo = home / "fifo", link = home / "link", file = home / "file.json";
  int reader = -1;
};

TEST_F(ExportTarget, IsWrittenIntoWhereAReplacementWouldLoseWhatItIsOnceTheExportArrived) {
  const std::string foreign = home / "foreign.json", longName = home / std::string(250, 'n');
  WriteFile(foreign, "earlier", 0604);
  const bool root = ::geteuid() == 0;
  ASSERT_TRUE(!root || ::chown(foreign.c_str(), 65534, 65534) == 0);
  Export(500, "{}", {fifo, link, file, foreign});
  EXPECT_EQ(FromFifo(), "");
  EXPECT_EQ(ReadFile(home / "other-name.json") + ReadFile(foreign), "earlierearlier");
  EXPECT_FALSE(Exists(home / "linked.json"));
  EXPECT_EQ(Export(200, kExport, {fifo, link, file, foreign, longName, "/dev/stdout"}), kExport);
  EXPECT_EQ(FromFifo(), kExport);
  for (const std::string& name :
       {home / "linked.json", home / "other-name.json", foreign, longName}) {
    EXPECT_EQ(ReadFile(name), kExport) << name;
  }
  struct stat status {};
  ASSERT_EQ(::stat(foreign.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0604u);
  EXPECT_EQ(status.st_uid, root ? 65534u : ::geteuid());
  EXPECT_EQ(Entries(home.Path()).size(), 8u) << "nothing appeared beside the targets";
}

}  // namespace
}  // namespace korv::test
