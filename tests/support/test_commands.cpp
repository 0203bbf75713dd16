// Commands of the test program korv-test-cli, which drives the framework from outside: each one
// ends in a way the driver must turn into the right output and exit status.
#include <stdexcept>
#include <string>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "cli/command.h"
#include "common/error.h"
#include "common/logger.h"

namespace {

// Logs a number of info records of a given size.
class LogLines : korv::cli::Command {
 public:
  LogLines() : Command("log-lines") {}
  void Perform() override {
    const std::string text(static_cast<size_t>(size), 'x');
    for (int i = 0; i < count; ++i) {
      LOG_INFO << "line " << i << " " << text;
    }
  }
  void Init(CLI::App* app) override {
    app->add_option("-n,--count", count, "How many records");
    app->add_option("-s,--size", size, "Characters in each record");
  }
  std::string Purpose() override { return "Log some lines."; }

 private:
  int count = 1;
  int size = 10;
};

// Fails in one of several ways.
class Fail : korv::cli::Command {
 public:
  Fail() : Command("fail") {}
  void Perform() override {
    if (kind == "file") {
      throw korv::FileError("Input file 'x' is broken.", __PRETTY_FUNCTION__, __LINE__);
    }
    if (kind == "http") {
      throw korv::HTTPError(500, "Boom", __PRETTY_FUNCTION__, __LINE__);
    }
    if (kind == "validation") {
      throw korv::ResponseValidationError(korv::kResponseParseFailure, "", 0);
    }
    if (kind == "runtime") {
      throw std::runtime_error("A runtime error.");
    }
    if (kind == "logic") {
      throw std::logic_error("A logic error.");
    }
    if (kind == "json") {
      nlohmann::json number = 1;
      number.get<std::string>();
    }
    if (kind == "unknown") {
      throw 42;
    }
  }
  void Init(CLI::App* app) override { app->add_option("-k,--kind", kind, "How to fail"); }
  std::string Purpose() override { return "Fail."; }

 private:
  std::string kind;
};

LogLines logLines;
Fail fail;

}  // namespace
