#include "standin_test_support.h"

#include <poll.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace korv::standin::test {

TemporaryDirectory::TemporaryDirectory() {
  const std::string base = std::filesystem::temp_directory_path().string();
  std::string pattern = base + "/korv-standin-test-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("Cannot create a temporary directory under " + base);
  }
  directory = pattern;
}

TemporaryDirectory::~TemporaryDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(directory, ignored);
}

void writeFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) {
    throw std::runtime_error("Cannot write " + path);
  }
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

ServerOptions testOptions() {
  ServerOptions options;
  options.users = {{"admin", "secret"}};
  return options;
}

TestServer::TestServer(const std::string& dataFile, bool withCustomSamples, ServerOptions options)
    : store(dataFile, withCustomSamples) {
  standin = std::make_unique<StandinServer>(std::move(options), store);
  standin->start();
  client = std::make_unique<httplib::Client>("127.0.0.1", standin->port());
}

namespace {

Reply toReply(const httplib::Result& result) {
  Reply reply;
  if (!result) {
    return reply;
  }
  reply.status = result->status;
  reply.text = result->body;
  reply.body = nlohmann::json::parse(reply.text, nullptr, false);
  reply.headers = result->headers;
  return reply;
}

httplib::Headers tokenHeader(const std::string& token) {
  if (token.empty()) {
    return {};
  }
  return {{"X-Auth-Token", token}};
}

}  // namespace

Reply TestServer::logIn(const std::string& user, const std::string& password) {
  const nlohmann::json body{{"username", user}, {"password", password}};
  return toReply(client->Post("/api/token/", body.dump(), "application/json"));
}

std::string TestServer::token() {
  const Reply reply = logIn();
  if (reply.status != 201) {
    throw std::runtime_error("The test login failed with status " + std::to_string(reply.status));
  }
  const auto header = reply.headers.find("X-Subject-Token");
  return header == reply.headers.end() ? std::string() : header->second;
}

Reply TestServer::get(const std::string& path, const std::string& token) {
  return toReply(client->Get(path.c_str(), tokenHeader(token)));
}

Reply TestServer::post(const std::string& path, const std::string& token, const std::string& body) {
  return toReply(client->Post(path.c_str(), tokenHeader(token), body, "application/json"));
}

Reply TestServer::logOut(const std::string& token) {
  return toReply(client->Delete("/api/token/", tokenHeader(token)));
}

Reply TestServer::put(const std::string& path, const std::string& token) {
  return toReply(client->Put(path.c_str(), tokenHeader(token), "{}", "application/json"));
}

nlohmann::json TestServer::probes(const std::string& token) {
  return get("/api/v11/probe/", token).body;
}

nlohmann::json TestServer::alertTemplates(const std::string& token) {
  return get("/api/v11/alert/template/", token).body;
}

ChildProcess::ChildProcess(const std::vector<std::string>& arguments,
                           const std::string& errorFile) {
  int pipeEnds[2];
  if (::pipe(pipeEnds) != 0) {
    throw std::runtime_error("Cannot create a pipe");
  }
  output = pipeEnds[0];
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
  posix_spawn_file_actions_addclose(&actions, pipeEnds[1]);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorFile.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<char*> argv;
  for (const auto& argument : arguments) {
    argv.push_back(const_cast<char*>(argument.c_str()));
  }
  argv.push_back(nullptr);
  const int failure = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeEnds[1]);
  if (failure != 0) {
    ::close(output);
    throw std::runtime_error("Cannot start " + arguments[0]);
  }
}

ChildProcess::~ChildProcess() {
  if (pid > 0) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
  ::close(output);
}

bool ChildProcess::readLine(std::string& line, int timeoutMilliseconds) {
  line.clear();
  char c = 0;
  for (;;) {
    pollfd ready{output, POLLIN, 0};
    if (::poll(&ready, 1, timeoutMilliseconds) <= 0 || ::read(output, &c, 1) != 1) {
      return false;
    }
    if (c == '\n') {
      return true;
    }
    line += c;
  }
}

void ChildProcess::signal(int number) {
  ::kill(pid, number);
}

int ChildProcess::wait() {
  int status = 0;
  ::waitpid(pid, &status, 0);
  pid = -1;
  return status;
}

int run(const std::vector<std::string>& arguments, const std::string& errorFile) {
  ChildProcess child(arguments, errorFile);
  std::string line;
  while (child.readLine(line)) {
  }
  const int status = child.wait();
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

nlohmann::json named(const nlohmann::json& records, const std::string& name) {
  for (const auto& record : records) {
    if (record.value("name", std::string()) == name) {
      return record;
    }
  }
  return nullptr;
}

}  // namespace korv::standin::test
