// Comparing an export file with what a server holds: what an import of the file would change,
// item by item, and the server's current versions of what it would overwrite (a backup).
//
// Items are matched by their "name". The server's side is its export of all its custom items,
// so only login, export and logout requests are sent: nothing here changes the server.
#pragma once

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/error.h"
#include "web/web_connection.h"

namespace korv::cli::api {

// Gives a connection for each request; a connection serves one request.
using Connections = std::function<std::shared_ptr<web::WebConnection>()>;

// Hands out the given connection (from connect()) first, then new connections of the same
// session, so that one login serves several requests.
Connections sessionConnections(std::shared_ptr<web::WebConnection> first);

// Sends the payload as postJson does. A transfer that does not complete (a dropped or reset
// connection, a time limit) raises an Error that names the server, instead of leaving an answer
// that cannot be parsed.
void post(web::WebConnection& connection, const std::string& path, const nlohmann::json& payload,
          const Place& place);

// The server's export of all its custom items of one kind (path "/probe/custom/export/" with
// itemsKey "probes", or the alert templates'), checked to be an export: an object with "version"
// and an array of items that each have a name.
nlohmann::json exportAll(const Connections& connections, const char* path, const char* itemsKey,
                         const Place& place);

// What an import would do to an item of the file, or that an item exists only on the server.
enum class Change { New, Changed, Unchanged, Skipped, ServerOnly };

// "new", "changed", "unchanged", "skipped", "server only".
const char* changeText(Change change);

struct DiffRow {
  std::string name;
  Change change;
  // The fields that differ, for a changed item, in ascending order.
  std::vector<std::string> fields;
  // A custom probe carried by the file's alert templates.
  bool carriedProbe = false;
};

struct DiffResult {
  // The file's items in the file's order (each name once), then the probes its alert templates
  // carry, then the server's custom items that the file does not hold.
  std::vector<DiffRow> rows;

  // True when an import would create or change something.
  bool WouldChange() const;
};

struct DiffOptions {
  bool ignoreExisting = false;        // existing items are skipped, as the import's flag does
  bool ignoreExistingProbes = false;  // likewise for the probes that alert templates carry
};

// Compares a probe export file (already read and checked as import-probes reads it) with the
// server's custom probes. Fields the server assigns ("id") are not compared. An item without a
// name, or items that are not an array, raise a FileError; a server answer that is not an export
// a ResponseValidationError; a failure status an HTTPError. A file whose "version" has another
// major number than the server's ("12.1" against "11.0") raises an Error naming both versions:
// the server refuses to import it.
DiffResult diffProbes(const Connections& connections, const nlohmann::json& file,
                      const DiffOptions& options, const Place& place);

// The same for an alert template export file. The custom probes each template carries (its
// "custom_probes") are compared with the server's custom probes and listed after the templates;
// the templates themselves are compared without that member.
DiffResult diffAlertTemplates(const Connections& connections, const nlohmann::json& file,
                              const DiffOptions& options, const Place& place);

// The custom probes that the alert templates of the file carry, each name once (the last item of
// the name, which an import leaves in place), as a probe import takes them.
nlohmann::json carriedProbes(const nlohmann::json& file, const Place& place);

// The server's current versions of the custom probes that an import of the file would
// overwrite, as a probe export file (the server's export, holding only those probes).
nlohmann::json backupProbes(const Connections& connections, const nlohmann::json& file,
                            const DiffOptions& options, const Place& place);

// The server's current versions of the alert templates that an import of the file would
// overwrite, as an alert template export file, with the custom probes it would overwrite also
// under "probes": the same file restores the templates with import-alert-templates (each with
// the probes it carries) and the probes with import-probes.
nlohmann::json backupAlertTemplates(const Connections& connections, const nlohmann::json& file,
                                    const DiffOptions& options, const Place& place);

// Prints the rows in the style of the import result table: a header, an underline, then
// "<name>, <change>, <detail>" per row, where the detail of a changed item names its fields,
// separated by spaces. A carried probe is named "Probe '<name>'". Control characters in names
// are escaped, so that every row is one line. Nothing is printed for no rows.
void printDiff(std::ostream& out, const DiffResult& result, const Place& place);

}  // namespace korv::cli::api
