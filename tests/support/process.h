// Runs a program as a child process with a chosen environment, collecting its standard output,
// standard error and exit status. Standard input is /dev/null. Nothing here waits with a time
// limit: a run that hangs is ended by the test's own timeout.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace korv::test {

struct ProcessResult {
  int status = -1;  // the exit code, or 128 + the signal that ended the process
  bool signaled = false;
  std::string out;
  std::string err;
};

struct ProcessOptions {
  std::vector<std::string> args;         // without the program itself
  std::vector<std::string> environment;  // "NAME=value" entries; nothing else is inherited
  std::vector<int> closedFds;            // standard descriptors the program starts without
};

class Process {
 public:
  Process(const std::string& program, ProcessOptions options);
  ~Process();  // kills the process when it was not waited for
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  pid_t Pid() const { return pid; }
  void Signal(int signal) const;
  // Reads the next line of standard output, without its line feed; false when the output ended
  // before a whole line.
  bool ReadLine(std::string& line);
  // Collects the output until the process ends.
  ProcessResult Wait();

 private:
  pid_t pid = -1;
  int outFd = -1;
  int errFd = -1;
  std::string out;  // read but not yet handed out
  bool waited = false;
};

ProcessResult Run(const std::string& program, ProcessOptions options);

// The sanitizer settings of this process, to hand on to children.
std::vector<std::string> InheritedSanitizerEnvironment();

// korv-standin on a free port with these arguments, stopped with SIGTERM when it goes.
class Standin {
 public:
  explicit Standin(std::vector<std::string> args);
  ~Standin() { Stop(); }
  const std::string& Url() const { return url; }  // "http(s)://127.0.0.1:<port>/"
  pid_t Pid() const { return process.Pid(); }
  // Stops the program with SIGTERM and gives how it ended.
  ProcessResult Stop();

 private:
  Process process;
  std::string url;
  bool stopped = false;
};

}  // namespace korv::test
