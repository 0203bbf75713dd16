// Runs a program as a child process with a chosen environment, collecting its standard output,
// standard error and exit status. Standard input is /dev/null.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace korv::test {

struct ProcessResult {
  int status = -1;  // the exit code, or 128 + the signal that ended the process
  bool signaled = false;
  bool timedOut = false;
  std::string out;
  std::string err;
};

struct ProcessOptions {
  std::vector<std::string> args;         // without the program itself
  std::vector<std::string> environment;  // "NAME=value" entries; nothing else is inherited
  std::string stdoutPath;                // when set, standard output goes to this file instead
  bool closeStdoutEarly = false;         // the reader of standard output goes away at once
  std::vector<int> closedFds;            // standard descriptors the program starts without
};

class Process {
 public:
  Process(const std::string& program, ProcessOptions options);
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  pid_t Pid() const { return pid; }
  void Signal(int signal) const;
  // Reads the next line of standard output, without its line feed; false when no whole line
  // came before the output ended or the time ran out.
  bool ReadLine(std::string& line, std::chrono::milliseconds timeout = std::chrono::seconds(30));
  // Collects output until the process ends; kills it (SIGKILL) after the timeout.
  ProcessResult Wait(std::chrono::milliseconds timeout = std::chrono::seconds(60));

 private:
  // Reads what is there into the text; false at the end of the output.
  bool ReadSome(int& fd, std::string& text);

  pid_t pid = -1;
  int outFd = -1;
  int errFd = -1;
  std::string out;  // read but not yet handed out
  bool waited = false;
};

ProcessResult Run(const std::string& program, ProcessOptions options,
                  std::chrono::milliseconds timeout = std::chrono::seconds(60));

// The sanitizer settings of this process, to hand on to children.
std::vector<std::string> InheritedSanitizerEnvironment();

}  // namespace korv::test
