// korv-cli: the command-line client of the KORV Server's REST API.
#include <csignal>
#include <iostream>
#include <new>
#include <stdexcept>

#include "cli/command.h"
#include "common/interrupt.h"
#include "common/memory.h"
#include "common/output.h"

int main(int argc, char** argv) {
  korv::openClosedStandardStreams();
  korv::resumeInterruptedOutput();
  korv::holdMemoryInReserve();
  const std::string title = "KORV Cli (Telvarion Command Line Interface)";
  // A reader that goes away makes writes fail, which is reported, instead of ending the process
  // before the token is released.
  std::signal(SIGPIPE, SIG_IGN);
  korv::interrupt::install();
  try {
    return korv::cli::Command::InitAll(title, argc, argv, false);
  } catch (const std::bad_alloc&) {
    if (korv::interrupt::signal() != 0) {
      return korv::cli::Command::reportInterrupt();
    }
    std::cerr << "Out of memory: the run was stopped." << std::endl;
    return 1;
  } catch (const std::exception& e) {
    if (korv::interrupt::signal() != 0) {
      return korv::cli::Command::reportInterrupt();
    }
    std::cerr << e.what() << std::endl;
    return 1;
  } catch (...) {
    if (korv::interrupt::signal() != 0) {
      return korv::cli::Command::reportInterrupt();
    }
    std::cerr << "Unknown error." << std::endl;
    return 1;
  }
}
