// The kinds of records that the subcommands move: one description each, which every exchange of
// the kind (list, export, import, diff, backup, migrate) reads its paths, keys and texts from.
#pragma once

#include "exchange/exchange.h"

namespace korv::cli::api {

struct Kind {
  const char* name;        // "probes": in --only, in the record's file names and in its messages
  const char* itemsKey;    // the array of items in exports, import files and import requests
  const char* itemName;    // one item, in messages: "probe"
  const char* resultKind;  // one item's "kind" in the results for programs: "probe"
  const char* listPath;    // the GET request of the list command
  const char* exportPath;  // the POST requests that export and import the custom items
  const char* importPath;
  // The member of an exported item that carries the custom probes it depends on, and the import
  // switch that keeps those that exist; none for items that carry no probes.
  const char* carriedKey;
  const char* carriedSwitch;
  // The member of an item that names the probes it depends on; none for items without one.
  const char* dependencyKey;
  // How the export command reports a failure status.
  FailureReport exportFailure;
  // The texts of the commands that read an export file of the kind.
  ImportMessages messages;

  bool CarriesProbes() const { return carriedKey != nullptr; }
};

// The import switch that keeps the items that exist.
inline constexpr char kSkipOverwrite[] = "skip_overwrite";

extern const Kind kProbes;
extern const Kind kAlertTemplates;

// What an import leaves in place: existing items, and existing probes that items carry.
struct Switches {
  bool ignoreExisting = false;
  bool ignoreExistingProbes = false;
};

}  // namespace korv::cli::api
