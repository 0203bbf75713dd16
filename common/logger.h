// The log file: where it is, how much goes into it, and the streaming log statements.
//
//   LOG_INFO << "Token released..";
//
// A statement is skipped until init() has run, and when its severity is above the chosen level.
#pragma once

#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

namespace korv::logger {

// Severity numbers: 1 is the most severe, 6 the least; 0 logs nothing.
enum class LogLevel : int {
  NONE = 0,
  FATAL = 1,
  ERROR = 2,
  WARNING = 3,
  INFO = 4,
  DEBUG = 5,
  VERBOSE = 6
};

// The stored path, or $HOME/.korv-cli.log when none was given.
std::string getLogFilePath();
// The name of the stored level: "NONE", "FATAL", "ERROR", "WARN", "INFO", "DEBUG" or "VERB".
std::string getLogLevel();
// Option callbacks of "--log-file" and "--log-level" (the latter receives the level's number).
bool setLogFilePath(const std::vector<std::string>& values);
bool setLogLevel(const std::vector<std::string>& values);
// Level names ("VERBOSE", "DEBUG", "INFO", "WARNING", "ERROR", "FATAL") to levels.
const std::unordered_map<std::string, LogLevel>& getLogLevelMap();
// Sets logging up once, with the path and level in force now; later changes have no effect.
void init();

// Whether a record of this severity would be written now.
bool isEnabled(LogLevel severity);

// One log record, written when the statement ends.
class Record {
 public:
  Record(LogLevel severity, const char* function, unsigned line)
      : severity(severity), function(function), line(line) {}
  ~Record();
  Record(const Record&) = delete;
  Record& operator=(const Record&) = delete;

  std::ostream& stream() { return text; }

 private:
  LogLevel severity;
  const char* function;
  unsigned line;
  std::ostringstream text;
};

// The function name inside a pretty-function text, as GCC or clang spells it: "virtual void
// a::B::C(int)" gives "a::B::C". An anonymous namespace is "{anonymous}", template arguments are
// left out, and a lambda is named by the function it stands in.
std::string functionName(const std::string& prettyFunction);

}  // namespace korv::logger

#define KORV_LOG(severity)                    \
  if (!::korv::logger::isEnabled(severity)) { \
  } else                                      \
    ::korv::logger::Record(severity, __PRETTY_FUNCTION__, __LINE__).stream()

#define LOG_FATAL KORV_LOG(::korv::logger::LogLevel::FATAL)
#define LOG_ERROR KORV_LOG(::korv::logger::LogLevel::ERROR)
#define LOG_WARNING KORV_LOG(::korv::logger::LogLevel::WARNING)
#define LOG_INFO KORV_LOG(::korv::logger::LogLevel::INFO)
#define LOG_DEBUG KORV_LOG(::korv::logger::LogLevel::DEBUG)
#define LOG_VERBOSE KORV_LOG(::korv::logger::LogLevel::VERBOSE)
