#include "tests/support/log_capture.h"

#include <gtest/gtest.h>

#include "common/logger.h"
#include "tests/support/temp_dir.h"

namespace korv::test {

namespace {

TempDir& logDir() {
  static TempDir dir;
  return dir;
}

std::string logPath() {
  return logDir() / "unit.log";
}

class LoggingEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    logger::setLogFilePath({logPath()});
    logger::setLogLevel({"6"});
    logger::init();
  }
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new LoggingEnvironment);

}  // namespace

LogCapture::LogCapture() : start(ReadFile(logPath()).size()) {}

std::string LogCapture::Text() const {
  return ReadFile(logPath()).substr(start);
}

}  // namespace korv::test
