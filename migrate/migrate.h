// migrate: moves the custom probes and alert templates of one named server to another in one
// run, keeping the exported files and the target's backups in a directory as a record.
#pragma once

#include <ostream>
#include <string>

#include "cli/command.h"
#include "connection/session.h"
#include "exchange/commands.h"

namespace korv::cli {

class Migrate : public Command {
 public:
  Migrate();

  void Perform() override;
  void Init(CLI::App* app) override;
  std::string Purpose() override;

  // Forgets the options.
  void Reset();

 private:
  class RecordDirectory;
  class Progress;
  struct Outcome;

  // The exchanges of a run, once its record directory is ready and the source is current.
  void Run(RecordDirectory& record, api::Connection& target, Progress& progress, Outcome& outcome);
  // The run's result for programs (see exchange/result.h): each item of the plans with its change
  // and, unless it is a dry run, its status and reason; a summary of the counts; and, for a run
  // that failed, where it stopped.
  void WriteResult(const api::Sink& write, const Outcome& outcome, const Progress& progress,
                   const std::string& record, const std::string& stopped) const;

  std::ostream* out;
  std::string from;
  std::string to;
  std::string dir;
  std::string only;
  bool dryRun = false;
  bool ignoreExisting = false;
  // "--json": the result for programs instead of the tables.
  bool json = false;
  api::NameFilter names;
};

}  // namespace korv::cli
