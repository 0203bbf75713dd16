#include "cli/command.h"

#include <algorithm>
#include <iostream>
#include <mutex>
#include <stdexcept>
#include <tuple>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/global_options.h"
#include "cli/suggest.h"
#include "common/error.h"
#include "common/interrupt.h"
#include "common/logger.h"
#include "common/scope.h"
#include "connection/session.h"

namespace korv::cli {

namespace {

struct Registration {
  int order;
  std::string name;
  Command* command;
};
// Kept in help order.
using Registry = std::vector<Registration>;

// Both are constant-initialised, so commands may register from any translation unit's static
// initialisation, before or after this one's. The registry is created by the first registration
// and deliberately never freed.
Registry* registry = nullptr;
std::mutex registryMutex;

// The status of a run whose subcommand ended normally.
int exitStatus = 0;

}  // namespace

Command::Command(const std::string& name, int order) {
  Register(name, this, order);
}

void Command::Register(const std::string& name, Command* command, int order) {
  std::lock_guard<std::mutex> lock(registryMutex);
  if (registry == nullptr) {
    registry = new Registry();
  }
  const auto sameName = [&name](const Registration& entry) { return entry.name == name; };
  if (std::any_of(registry->begin(), registry->end(), sameName)) {
    throw std::runtime_error("Can not define more than one sub-command with same name.");
  }
  const auto after = [&](const Registration& entry) {
    return std::tie(order, name) < std::tie(entry.order, entry.name);
  };
  registry->insert(std::find_if(registry->begin(), registry->end(), after),
                   Registration{order, name, command});
}

int Command::InitAll(const std::string& title, int argc, char** argv, bool standAlone) {
  CLI::App app{title, ""};
  bool ran = false;
  exitStatus = 0;

  {
    std::lock_guard<std::mutex> lock(registryMutex);
    if (standAlone && (registry == nullptr || registry->size() != 1)) {
      throw std::runtime_error("Can not define more than one sub-commands in stand alone mode.");
    }
    if (registry != nullptr) {
      for (const Registration& entry : *registry) {
        Command* command = entry.command;
        CLI::App* target = standAlone ? &app : app.add_subcommand(entry.name, command->Purpose());
        command->Init(target);
        if (!command->NeedsServer()) {
          // Named on the command line, before the global options are processed.
          target->preparse_callback([&app](std::size_t) { serverNotNeeded(app); });
        }
        target->callback([name = entry.name, command, &ran] {
          ran = true;
          logger::init();
          LOG_INFO << "------> Executing the subcommand - " << name;
          Scope releaseToken([] { api::finish(); });
          command->Perform();
        });
      }
    }
  }

  addGlobalOptions(app, title);
  app.require_subcommand(0, 1);
  // A missing or unexpected argument may be a misspelt one: a suggestion goes under the error.
  const auto withSuggestion = [&app](const std::string& message) {
    const std::string line = suggestion(app);
    return line.empty() ? message : message + "\n" + line;
  };
  app.failure_message([&withSuggestion](const CLI::App* parser, const CLI::Error& e) {
    std::string text = CLI::FailureMessage::simple(parser, e);
    const int status = e.get_exit_code();
    if (status == static_cast<int>(CLI::ExitCodes::RequiredError) ||
        status == static_cast<int>(CLI::ExitCodes::ExtrasError)) {
      text.replace(0, std::string(e.what()).size(), withSuggestion(e.what()));
    }
    return text;
  });

  rememberCommandLine(argc, argv);
  try {
    app.parse(argc, argv);
    if (!ran) {
      throw CLI::CallForHelp();
    }
  } catch (...) {
    // An interrupted run ends as interrupted, whatever failed on the way out.
    if (interrupt::signal() != 0) {
      return reportInterrupt();
    }
    try {
      throw;
    } catch (const UsageError& e) {
      LOG_ERROR << e.to_string();
      std::cerr << (e.GetKind() == UsageError::Kind::Missing ? withSuggestion(e.what()) : e.what())
                << std::endl;
      if (e.PointsToHelp()) {
        std::cerr << "Run with --help for more information." << std::endl;
      }
      return e.ExitStatus();
    } catch (const Error& e) {
      LOG_ERROR << e.to_string();
      std::cerr << e.what() << std::endl;
      return e.ExitStatus();
    } catch (const CLI::ValidationError& e) {
      LOG_ERROR << e.get_name() << ": " << e.what();
      std::cerr << e.what() << std::endl;
      return e.get_exit_code();
    } catch (const CLI::ParseError& e) {
      LOG_ERROR << e.get_name() << ": " << e.what();
      return app.exit(e, std::cout, std::cerr);
    }
  }
  if (interrupt::signal() != 0) {
    return reportInterrupt();
  }
  return exitStatus;
}

void Command::SetExitStatus(int status) {
  exitStatus = status;
}

int Command::reportInterrupt() {
  const int signal = interrupt::signal();
  LOG_WARNING << interrupt::describe(signal);
  std::cerr << interrupt::describe(signal) << std::endl;
  return 128 + signal;
}

}  // namespace korv::cli
