#include "tests/support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace korv::test {

namespace {

// Reads what is there into the text; at the end of the output closes the descriptor.
void readSome(int& fd, std::string& text) {
  char buffer[65536];
  const ssize_t got = ::read(fd, buffer, sizeof buffer);
  if (got > 0) {
    text.append(buffer, static_cast<size_t>(got));
  } else if (got == 0 || errno != EINTR) {
    ::close(fd);
    fd = -1;
  }
}

}  // namespace

Process::Process(const std::string& program, ProcessOptions options) {
  int outPipe[2];
  int errPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&files, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&files, errPipe[1], 2);
  for (const int fd : options.closedFds) {
    posix_spawn_file_actions_addclose(&files, fd);
  }
  // The child starts with default signal dispositions and an empty signal mask.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t all;
  sigset_t none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (auto& arg : options.args) {
    argv.push_back(arg.data());
  }
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (auto& entry : options.environment) {
    envp.push_back(entry.data());
  }
  envp.push_back(nullptr);
  const int error =
      posix_spawn(&pid, program.c_str(), &files, &attributes, argv.data(), envp.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&files);
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  outFd = outPipe[0];
  errFd = errPipe[0];
  if (error != 0) {
    ::close(outFd);
    ::close(errFd);
    throw std::runtime_error("cannot start " + program + ": " + std::strerror(error));
  }
}

Process::~Process() {
  if (!waited) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
  for (const int fd : {outFd, errFd}) {
    if (fd >= 0) {
      ::close(fd);
    }
  }
}

void Process::Signal(int signal) const {
  ::kill(pid, signal);
}

bool Process::ReadLine(std::string& line) {
  size_t end;
  while ((end = out.find('\n')) == std::string::npos) {
    if (outFd < 0) {
      return false;
    }
    readSome(outFd, out);
  }
  line = out.substr(0, end);
  out.erase(0, end + 1);
  return true;
}

ProcessResult Process::Wait() {
  ProcessResult result;
  result.out.swap(out);
  while (outFd >= 0 || errFd >= 0) {
    pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    if (::poll(fds, 2, -1) > 0) {
      if (fds[0].revents != 0) {
        readSome(outFd, result.out);
      }
      if (fds[1].revents != 0) {
        readSome(errFd, result.err);
      }
    }
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  waited = true;
  result.signaled = WIFSIGNALED(status);
  result.status = result.signaled ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
  return result;
}

ProcessResult Run(const std::string& program, ProcessOptions options) {
  return Process(program, std::move(options)).Wait();
}

std::vector<std::string> InheritedSanitizerEnvironment() {
  std::vector<std::string> entries;
  for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
    if (const char* value = std::getenv(name)) {
      entries.push_back(std::string(name) + "=" + value);
    }
  }
  return entries;
}

Standin::Standin(std::vector<std::string> args)
    : process(KORV_STANDIN_PATH, [&] {
        ProcessOptions options;
        options.args = {"--port", "0"};
        options.args.insert(options.args.end(), args.begin(), args.end());
        options.environment = InheritedSanitizerEnvironment();
        return options;
      }()) {
  if (!process.ReadLine(url)) {
    throw std::runtime_error("korv-standin did not start: " + Stop().err);
  }
}

ProcessResult Standin::Stop() {
  if (stopped) {
    return {};
  }
  stopped = true;
  process.Signal(SIGTERM);
  return process.Wait();
}

}  // namespace korv::test
