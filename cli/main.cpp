// korv-cli: the command-line client of the KORV Server's REST API.
#include <csignal>
#include <iostream>
#include <stdexcept>

#include "cli/command.h"

int main(int argc, char** argv) {
  const std::string title = "KORV Cli (Telvarion Command Line Interface)";
  // A reader that goes away makes writes fail, which is reported, instead of ending the process
  // before the token is released.
  std::signal(SIGPIPE, SIG_IGN);
  try {
    return korv::cli::Command::InitAll(title, argc, argv, false);
  } catch (const std::exception& e) {
    std::cerr << e.what() << std::endl;
    return 1;
  } catch (...) {
    std::cerr << "Unknown error." << std::endl;
    return 1;
  }
}
