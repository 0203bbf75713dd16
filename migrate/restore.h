// restore: puts back what a migrate overwrote on its target, from the backups in the migrate's
// record directory, and lists what the migrate created there, which a restore leaves in place.
#pragma once

#include <ostream>
#include <string>

#include "cli/command.h"

namespace korv::cli {

class Restore : public Command {
 public:
  Restore();

  void Perform() override;
  void Init(CLI::App* app) override;
  std::string Purpose() override;

  // Forgets the options.
  void Reset();

 private:
  std::ostream* out;
  std::string to;
  std::string dir;
};

}  // namespace korv::cli
