// The plan of an import: what it would change in a server, item by item, found by comparing an
// export file (or a source's export) with one snapshot of the server, the server's export of all
// its custom items of each kind. diff prints the plan, a backup is the server's side of it, and
// migrate prints, backs up and applies it.
//
// Items are matched by their "name". Reading the server's side sends only export requests:
// nothing here changes the server.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.h"
#include "exchange/kind.h"
#include "records/export_index.h"
#include "web/web_connection.h"

namespace korv::cli::api {

// Gives a connection for each request; a connection serves one request.
using Connections = std::function<std::shared_ptr<web::WebConnection>()>;

// Hands out the given connection (from connect()) first, then new connections of the same
// session, so that one login serves several requests. Its copies share the first connection.
Connections sessionConnections(std::shared_ptr<web::WebConnection> first);

// Sends the payload (compact JSON) as postJson does. A transfer that does not complete (a dropped
// or reset connection, a time limit) raises an Error that names the server, instead of leaving an
// answer that cannot be parsed.
void post(web::WebConnection& connection, const std::string& path, const std::string& payload,
          const Place& place);
// The same with a body written while it is sent.
void post(web::WebConnection& connection, const std::string& path, ObjectWriter& body,
          const Place& place);

// The server's export of all its custom items of the kind, checked to be an export: an object
// with "version" and an array of items that each have a name. A failure status raises an
// HTTPError.
ExportIndex exportAll(const Connections& connections, const Kind& kind, const Place& place);

// Items of one kind by name: the last item of each name (the one an import that overwrites
// leaves in place), in the order in which the names first appear.
class Named {
 public:
  // Makes room for the given number of names.
  void Reserve(std::size_t count);
  // The item takes the place of an earlier one of its name.
  void Add(const ItemText& item);

  const std::vector<const ItemText*>& Items() const { return items; }
  // The item of the name; none when there is none.
  const ItemText* Find(std::string_view name) const;

 private:
  // The slot of the name: where it is, or the free slot where it goes.
  std::size_t Slot(std::string_view name, std::uint32_t hash) const;

  std::vector<const ItemText*> items;
  // An open-addressing table of the names, at most half full: in each slot the upper half of the
  // name's hash and the place of its item in items plus one; 0 for a free slot.
  std::vector<std::uint64_t> slots;
};

// A server's export of all its custom items of one kind, its items by name, and the probes that
// they carry.
struct Snapshot {
  ExportIndex document;
  Named items;
  Named carried;
};

// The server's side of the plans of a run: the snapshot of each kind, read once, when first
// needed.
class Target {
 public:
  using Read = std::function<ExportIndex(const Kind&)>;
  explicit Target(Read read) : read(std::move(read)) {}
  // Reads with exportAll, reporting failures at the place given.
  Target(Connections connections, const Place& place);

  const Snapshot& Of(const Kind& kind);
  // The snapshot if it was read; none otherwise.
  const Snapshot* Taken(const Kind& kind) const;
  // Gives the snapshots' memory back; the plans' rows of items on the server only go with them.
  void Release() { snapshots.clear(); }

 private:
  Read read;
  std::map<const Kind*, std::unique_ptr<Snapshot>> snapshots;
};

// What an import would do to an item of the file, or that an item exists only on the server.
enum class Change : std::uint8_t { New, Changed, Unchanged, Skipped, ServerOnly };

// "new", "changed", "unchanged", "skipped", "server only".
const char* changeText(Change change);

// A field of an item that differs between the file and the server: its name, and its values as
// compact JSON, empty on the side that does not have the field. The three are kept as one text
// (no name or compact value holds a NUL byte), so that a plan of many changed items stays small.
class FieldChange {
 public:
  FieldChange(std::string_view name, std::string_view server, std::string_view file);
  std::string_view Name() const { return Part(0); }
  std::string_view Server() const { return Part(1); }
  std::string_view File() const { return Part(2); }

 private:
  std::string_view Part(int index) const;

  std::string text;  // "<name>\0<server>\0<file>"
};

struct Row {
  // The file's item; the server's for an item on the server only.
  const ItemText* item = nullptr;
  // The fields that differ, for a changed item, in ascending order of their names.
  std::vector<FieldChange> fields;
  Change change;
  // A custom probe carried by the file's items.
  bool carriedProbe = false;

  std::string_view Name() const { return item->name; }
};

struct Plan {
  const Kind* kind = nullptr;
  // The file's items in the file's order (each name once), then the probes they carry, then the
  // server's items of the kind that the file does not hold.
  std::vector<Row> rows;
  // Whether the import sends the unchanged items again, as an import of the whole file does;
  // migrate sends only what changes.
  bool resend = true;

  // True when an import would create or change something.
  bool WouldChange() const;
  // Whether the import sends the row's item, and whether that overwrites one on the server.
  bool Sends(const Row& row) const;
  bool Overwrites(const Row& row) const;
  // The texts of the file's items that the import sends: its carried probes, or its items.
  std::vector<std::string_view> Sent(bool carriedProbes) const;
};

// Compares an export file of the kind (already read and checked as the import reads it) with the
// target. Fields the server assigns ("id"), and the probes an item carries, are not compared;
// the carried probes are compared with the server's custom probes, or, given the plan of a probe
// import that goes first, with what that import leaves. An item without a name, or items that
// are not an array, raise a FileError; a server answer that is not an export a
// ResponseValidationError; a failure status an HTTPError. A file whose "version" has another
// major number than the server's ("12.1" against "11.0") raises an Error naming both versions:
// the server refuses to import it.
Plan makePlan(const Kind& kind, const ExportIndex& file, Target& target, const Switches& switches,
              const Plan* before, const Place& place);

// The server's current versions of what the plan's import overwrites, as an export file of the
// kind (the server's export, holding only those items), written in compact form. Carried probes
// that it overwrites are also under "probes": the same file restores the items with their import
// (each with the probes it carries) and the probes with import-probes.
void backup(const Plan& plan, Target& target, const Sink& write);

// Prints the rows in the style of the import result table: a header, an underline, then
// "<name>, <change>, <detail>" per row, then a line that counts the rows by change ("2 new,
// 1 changed, 5 unchanged"). The detail of a changed item gives each field that differs, separated
// by ", ": "interval 3600 → 120" (the server's value, then the file's, as JSON) when both are
// short plain values ("(none)" for a side without the field), else "<field> changed". A carried
// probe is named "Probe '<name>'". Control characters are escaped, so that every row is one line.
// Nothing is printed for no rows.
void printPlan(std::ostream& out, const Plan& plan, const Place& place);

}  // namespace korv::cli::api
