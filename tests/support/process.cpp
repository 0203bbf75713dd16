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

void closeFd(int& fd) {
  if (fd >= 0) {
    ::close(fd);
    fd = -1;
  }
}

struct Pipe {
  int fds[2] = {-1, -1};
  Pipe() {
    if (::pipe2(fds, O_CLOEXEC) != 0) {
      throw std::runtime_error("pipe failed");
    }
  }
  ~Pipe() {
    closeFd(fds[0]);
    closeFd(fds[1]);
  }
};

struct FileActions {
  posix_spawn_file_actions_t actions;
  FileActions() { posix_spawn_file_actions_init(&actions); }
  ~FileActions() { posix_spawn_file_actions_destroy(&actions); }
};

}  // namespace

Process::Process(const std::string& program, ProcessOptions options)
    : input(std::move(options.input)) {
  Pipe in;
  Pipe out;
  Pipe err;
  FileActions files;
  posix_spawn_file_actions_adddup2(&files.actions, in.fds[0], 0);
  if (options.stdoutPath.empty()) {
    posix_spawn_file_actions_adddup2(&files.actions, out.fds[1], 1);
  } else {
    posix_spawn_file_actions_addopen(&files.actions, 1, options.stdoutPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  posix_spawn_file_actions_adddup2(&files.actions, err.fds[1], 2);

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (auto& arg : options.args) {
    argv.push_back(arg.data());
  }
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (auto& entry : options.environment) {
    envp.push_back(entry.data());
  }
  envp.push_back(nullptr);

  // The child starts with default signal dispositions and an empty mask.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t all;
  sigset_t none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  const int error =
      posix_spawn(&pid, program.c_str(), &files.actions, &attributes, argv.data(), envp.data());
  posix_spawnattr_destroy(&attributes);
  if (error != 0) {
    throw std::runtime_error("cannot start " + program + ": " + std::strerror(error));
  }
  inFd = in.fds[1];
  in.fds[1] = -1;
  outFd = out.fds[0];
  out.fds[0] = -1;
  errFd = err.fds[0];
  err.fds[0] = -1;
  if (options.closeStdoutEarly) {
    closeFd(outFd);
  }
  if (input.empty()) {
    closeFd(inFd);
  } else {
    ::fcntl(inFd, F_SETFL, O_NONBLOCK);
  }
}

Process::~Process() {
  if (!waited && pid > 0) {
    ::kill(pid, SIGKILL);
    int status;
    ::waitpid(pid, &status, 0);
  }
  closeFd(inFd);
  closeFd(outFd);
  closeFd(errFd);
}

void Process::Signal(int signal) const {
  ::kill(pid, signal);
}

bool Process::ReadLine(std::string& line, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  size_t end;
  while ((end = pendingOut.find('\n')) == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (outFd < 0 || left.count() <= 0) {
      return false;
    }
    pollfd entry{outFd, POLLIN, 0};
    if (::poll(&entry, 1, static_cast<int>(left.count())) <= 0) {
      continue;
    }
    char buffer[4096];
    const ssize_t got = ::read(outFd, buffer, sizeof buffer);
    if (got > 0) {
      pendingOut.append(buffer, static_cast<size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      closeFd(outFd);
    }
  }
  line = pendingOut.substr(0, end);
  pendingOut.erase(0, end + 1);
  return true;
}

ProcessResult Process::Wait(std::chrono::milliseconds timeout) {
  ProcessResult result;
  result.out.swap(pendingOut);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  size_t written = 0;
  char buffer[65536];
  while (outFd >= 0 || errFd >= 0 || inFd >= 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      result.timedOut = true;
      ::kill(pid, SIGKILL);
      break;
    }
    pollfd fds[3] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}, {inFd, POLLOUT, 0}};
    const int ready = ::poll(fds, 3, static_cast<int>(std::min<long>(left.count(), 1000)));
    if (ready < 0 && errno != EINTR) {
      break;
    }
    for (int i = 0; i < 2; ++i) {
      int& fd = i == 0 ? outFd : errFd;
      if (fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
          (i == 0 ? result.out : result.err).append(buffer, static_cast<size_t>(got));
        } else if (got == 0 || errno != EINTR) {
          closeFd(fd);
        }
      }
    }
    if (inFd >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP)) != 0) {
      const ssize_t put = ::write(inFd, input.data() + written, input.size() - written);
      if (put > 0) {
        written += static_cast<size_t>(put);
      }
      if (put < 0 && errno != EAGAIN && errno != EINTR) {
        closeFd(inFd);
      }
      if (written == input.size()) {
        closeFd(inFd);
      }
    }
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  waited = true;
  if (WIFEXITED(status)) {
    result.status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signaled = true;
    result.status = 128 + WTERMSIG(status);
  }
  return result;
}

ProcessResult Run(const std::string& program, ProcessOptions options,
                  std::chrono::milliseconds timeout) {
  Process process(program, std::move(options));
  return process.Wait(timeout);
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

}  // namespace korv::test
