#include "common/logger.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <iostream>
#include <memory>
#include <mutex>

#include <spdlog/logger.h>
#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/base_sink.h>

#include "common/path.h"

namespace korv::logger {

namespace {

constexpr size_t kMaxFileSize = 100000;
constexpr int kMaxFiles = 10;
constexpr char kDefaultFileName[] = ".korv-cli.log";
constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

std::string logFilePath;
LogLevel logLevel = LogLevel::INFO;
bool initialised = false;
LogLevel activeLevel = LogLevel::NONE;  // the level taken by init()

// Owns one POSIX file descriptor.
class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd(fd) {}
  ~FileDescriptor() { reset(); }
  FileDescriptor(FileDescriptor&& other) noexcept : fd(other.fd) { other.fd = -1; }
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
      reset();
      fd = other.fd;
      other.fd = -1;
    }
    return *this;
  }
  int get() const { return fd; }
  explicit operator bool() const { return fd >= 0; }
  void reset() {
    if (fd >= 0) {
      ::close(fd);
      fd = -1;
    }
  }

 private:
  int fd = -1;
};

bool writeAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

// A rolling log file that is opened on the first record, not before. A file that is empty when
// opened starts with a UTF-8 byte-order mark. Before each later record, a file that has grown past
// the size limit becomes "<stem>.1.<ext>", the older ones move one number up, and the oldest goes.
// Files are created owner-only: the log holds session tokens.
class RollingFileSink : public spdlog::sinks::base_sink<std::mutex> {
 public:
  RollingFileSink(std::string path, size_t maxSize, int maxFiles)
      : path(std::move(path)), maxSize(maxSize), maxFiles(maxFiles) {
    const size_t dot = this->path.find_last_of('.');
    const size_t slash = this->path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
      stem = this->path;
    } else {
      stem = this->path.substr(0, dot);
      extension = this->path.substr(dot + 1);
    }
  }

 protected:
  void sink_it_(const spdlog::details::log_msg& msg) override {
    if (firstWrite) {
      firstWrite = false;
      open();
    } else if (file && size > maxSize) {
      roll();
    }
    if (!file) {
      return;
    }
    spdlog::memory_buf_t formatted;
    formatter_->format(msg, formatted);
    if (writeAll(file.get(), formatted.data(), formatted.size())) {
      size += formatted.size();
    }
  }

  void flush_() override {}

 private:
  std::string fileName(int number) const {
    std::string name = stem;
    if (number > 0) {
      name += "." + std::to_string(number);
    }
    if (!extension.empty()) {
      name += "." + extension;
    }
    return name;
  }

  // Opens the log file, or else leaves it closed. The file is used only when it is a regular file
  // with one link, owned by the effective user: a link or another user's file there (HOME may be
  // another user's) must not receive the log, nor a FIFO stall the run. A file that is there but
  // cannot be used is named in one warning line on standard error; a missing directory is not an
  // error.
  void open() {
    file = FileDescriptor(::open(
        path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600));
    struct stat status {};
    if (!file) {
      if (::lstat(path.c_str(), &status) == 0) {
        warn(usable(status) ? "cannot be written" : "is not a regular file of this user");
      }
      return;
    }
    if (::fstat(file.get(), &status) != 0 || !usable(status)) {
      file.reset();
      warn("is not a regular file of this user");
      return;
    }
    // A log file left readable by others from before is tightened too.
    if ((status.st_mode & 077) != 0) {
      ::fchmod(file.get(), status.st_mode & 0700);
    }
    size = static_cast<size_t>(status.st_size);
    if (size == 0 && writeAll(file.get(), kByteOrderMark, sizeof kByteOrderMark - 1)) {
      size = sizeof kByteOrderMark - 1;
    }
  }

  static bool usable(const struct stat& status) {
    return S_ISREG(status.st_mode) && status.st_uid == ::geteuid() && status.st_nlink == 1;
  }

  void warn(const char* problem) const {
    std::cerr << "Warning: the log file '" << path << "' " << problem << "; running without a log."
              << std::endl;
  }

  void roll() {
    file.reset();
    ::unlink(fileName(maxFiles - 1).c_str());
    for (int number = maxFiles - 2; number >= 0; --number) {
      ::rename(fileName(number).c_str(), fileName(number + 1).c_str());
    }
    open();
  }

  std::string path;
  std::string stem;
  std::string extension;
  size_t maxSize;
  int maxFiles;
  FileDescriptor file;
  size_t size = 0;
  bool firstWrite = true;
};

const char* levelName(LogLevel level) {
  switch (level) {
    case LogLevel::FATAL:
      return "FATAL";
    case LogLevel::ERROR:
      return "ERROR";
    case LogLevel::WARNING:
      return "WARN";
    case LogLevel::INFO:
      return "INFO";
    case LogLevel::DEBUG:
      return "DEBUG";
    case LogLevel::VERBOSE:
      return "VERB";
    case LogLevel::NONE:
      break;
  }
  return "NONE";
}

spdlog::level::level_enum toSpdlog(LogLevel level) {
  switch (level) {
    case LogLevel::FATAL:
      return spdlog::level::critical;
    case LogLevel::ERROR:
      return spdlog::level::err;
    case LogLevel::WARNING:
      return spdlog::level::warn;
    case LogLevel::INFO:
      return spdlog::level::info;
    case LogLevel::DEBUG:
      return spdlog::level::debug;
    case LogLevel::VERBOSE:
      return spdlog::level::trace;
    case LogLevel::NONE:
      break;
  }
  return spdlog::level::off;
}

LogLevel fromSpdlog(spdlog::level::level_enum level) {
  switch (level) {
    case spdlog::level::critical:
      return LogLevel::FATAL;
    case spdlog::level::err:
      return LogLevel::ERROR;
    case spdlog::level::warn:
      return LogLevel::WARNING;
    case spdlog::level::info:
      return LogLevel::INFO;
    case spdlog::level::debug:
      return LogLevel::DEBUG;
    case spdlog::level::trace:
      return LogLevel::VERBOSE;
    default:
      return LogLevel::NONE;
  }
}

// The severity name, left-aligned in five characters.
class SeverityFlag : public spdlog::custom_flag_formatter {
 public:
  void format(const spdlog::details::log_msg& msg, const std::tm&,
              spdlog::memory_buf_t& dest) override {
    std::string name = levelName(fromSpdlog(msg.level));
    name.resize(5, ' ');
    dest.append(name.data(), name.data() + name.size());
  }
  std::unique_ptr<custom_flag_formatter> clone() const override {
    return std::make_unique<SeverityFlag>();
  }
};

// "<function name>@<line>".
class PlaceFlag : public spdlog::custom_flag_formatter {
 public:
  void format(const spdlog::details::log_msg& msg, const std::tm&,
              spdlog::memory_buf_t& dest) override {
    const std::string place = functionName(msg.source.funcname ? msg.source.funcname : "") + "@" +
                              std::to_string(msg.source.line);
    dest.append(place.data(), place.data() + place.size());
  }
  std::unique_ptr<custom_flag_formatter> clone() const override {
    return std::make_unique<PlaceFlag>();
  }
};

std::shared_ptr<spdlog::logger>& theLogger() {
  static std::shared_ptr<spdlog::logger> logger;
  return logger;
}

}  // namespace

std::string functionName(const std::string& prettyFunction) {
  // Compilers spell the same things differently: an anonymous namespace is "{anonymous}" to GCC
  // and "(anonymous namespace)" to clang; a lambda is "<lambda(...)>" to GCC and
  // "(anonymous class)::operator()" to clang. Both come out in GCC's spelling, a lambda as
  // "<lambda>".
  std::string text = prettyFunction;
  const auto replaceAll = [&text](const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
      text.replace(at, from.size(), to);
      at += to.size();
    }
  };
  replaceAll("(anonymous namespace)", "{anonymous}");
  replaceAll("(anonymous class)::operator()", "<lambda>");

  // The name is what stands before the first parameter list, after the return type, without
  // template arguments. A lambda's enclosing function has the first parameter list, so a lambda
  // is named by that function.
  std::string name;
  int depth = 0;  // of template angle brackets, whose arguments are left out
  const auto wordCharacter = [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
  };
  for (size_t at = 0; at < text.size(); ++at) {
    const char c = text[at];
    if (depth == 0 && text.compare(at, 8, "operator") == 0 &&
        (at == 0 || !wordCharacter(text[at - 1])) &&
        (at + 8 == text.size() || !wordCharacter(text[at + 8]))) {
      // "operator()", "operator<<", "operator bool": the whole operator is the name.
      const size_t end = text.find('(', text.compare(at + 8, 2, "()") == 0 ? at + 10 : at + 8);
      name += text.substr(at, end - at);
      break;
    }
    if (depth == 0 && text.compare(at, 7, "<lambda") == 0) {
      name += "<lambda>";
    }
    if (c == '<') {
      ++depth;
    } else if (c == '>') {
      depth = depth > 0 ? depth - 1 : 0;
    } else if (depth == 0 && c == '(') {
      break;
    } else if (depth == 0 && c == ' ') {
      name.clear();  // what came so far was the return type or a qualifier
    } else if (depth == 0) {
      name += c;
    }
  }
  return name;
}

std::string getLogFilePath() {
  if (!logFilePath.empty()) {
    return logFilePath;
  }
  return path::mergePaths(path::getHomeDir(), kDefaultFileName);
}

std::string getLogLevel() {
  return levelName(logLevel);
}

bool setLogFilePath(const std::vector<std::string>& values) {
  logFilePath = values.at(0);
  return true;
}

bool setLogLevel(const std::vector<std::string>& values) {
  logLevel = static_cast<LogLevel>(std::stoi(values.at(0), nullptr, 10));
  return true;
}

const std::unordered_map<std::string, LogLevel>& getLogLevelMap() {
  static const std::unordered_map<std::string, LogLevel> levels{
      {"VERBOSE", LogLevel::VERBOSE}, {"DEBUG", LogLevel::DEBUG}, {"INFO", LogLevel::INFO},
      {"WARNING", LogLevel::WARNING}, {"ERROR", LogLevel::ERROR}, {"FATAL", LogLevel::FATAL}};
  return levels;
}

void init() {
  if (initialised) {
    return;
  }
  auto sink = std::make_shared<RollingFileSink>(getLogFilePath(), kMaxFileSize, kMaxFiles);
  spdlog::pattern_formatter::custom_flags flags;
  flags['*'] = std::make_unique<SeverityFlag>();
  flags['&'] = std::make_unique<PlaceFlag>();
  sink->set_formatter(std::make_unique<spdlog::pattern_formatter>(
      "%Y-%m-%d %H:%M:%S.%e %* [%t] [%&] %v", spdlog::pattern_time_type::local, "\n",
      std::move(flags)));
  auto logger = std::make_shared<spdlog::logger>("korv", std::move(sink));
  logger->set_level(toSpdlog(logLevel));
  // Logging never reports its own trouble: a log that cannot be written is simply not written.
  logger->set_error_handler([](const std::string&) {});
  theLogger() = std::move(logger);
  activeLevel = logLevel;
  initialised = true;
}

bool isEnabled(LogLevel severity) {
  return initialised && severity != LogLevel::NONE &&
         static_cast<int>(severity) <= static_cast<int>(activeLevel);
}

Record::~Record() {
  const std::string message = text.str();
  theLogger()->log(spdlog::source_loc{"", static_cast<int>(line), function}, toSpdlog(severity),
                   spdlog::string_view_t(message.data(), message.size()));
}

}  // namespace korv::logger
