// The stand-in's data: probes and alert templates, kept in memory and in one JSON data file.
//
// The data file is a JSON object:
//
//   {
//     "next_id": 24,
//     "probes": [ {"id": 1, "name": "CPU Usage", "internal_name": "cpu_usage", ...}, ... ],
//     "alert_templates": [ {"id": 11, "name": "High CPU Usage", ...}, ... ]
//   }
//
// - "probes" and "alert_templates" hold complete records with the server's key names (see
//   records.h for the keys and their types); a missing array counts as empty. Ids are unsigned
//   integers, unique within each array; names are unique within each array too, since imports
//   and dependencies find records by name. Members beyond the known keys are kept and served.
// - "next_id" is the id the next created record gets; probes and alert templates share the
//   counter. It may be left out: the store then takes one more than the highest id in the file,
//   and it never hands out an id at or below that.
// - The stand-in writes the file with one record per line; any JSON layout is read.
//
// A missing file is created with the sample records (samples.h). Every change is written to a
// temporary file in the same directory, flushed to disk and renamed over the data file.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include <nlohmann/json.hpp>

namespace korv::standin {

// The data file cannot be read, is not a data file, or cannot be written.
class StoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An export names a record that does not exist or that is not custom. Its text names the id.
class UnknownRecordError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Texts of the "status" member of import results.
inline constexpr const char* kCreated = "created";
inline constexpr const char* kOverwritten = "overwritten";
inline constexpr const char* kSkipped = "skipped";
inline constexpr const char* kFailed = "failed";

// Records of one kind, with lookups by id and by name. Each record is kept as its compact JSON
// text, which takes a fifth of the room of a parsed record; it is parsed where it is read.
class RecordTable {
 public:
  explicit RecordTable(const char* systemKey) : systemKey(systemKey) {}

  std::size_t size() const { return records.size(); }
  nlohmann::json at(std::size_t index) const;
  const std::string& textAt(std::size_t index) const { return records.at(index).text; }
  std::uint64_t idAt(std::size_t index) const { return records.at(index).id; }
  bool isSystem(std::size_t index) const { return records.at(index).system; }
  std::optional<std::size_t> findId(const nlohmann::json& id) const;
  std::optional<std::size_t> findName(const std::string& name) const;

  // Appends a record whose id and name are new to the table.
  void add(const nlohmann::json& record);
  // Replaces a record by one with the same id and name.
  void replace(std::size_t index, const nlohmann::json& record);

  // The whole table as one compact JSON array, built once per change.
  std::shared_ptr<const std::string> listText();

 private:
  struct Entry {
    std::string text;
    std::uint64_t id;
    bool system;
  };
  Entry entryOf(const nlohmann::json& record) const;

  const char* systemKey;
  std::vector<Entry> records;
  std::unordered_map<std::uint64_t, std::size_t> byId;
  std::unordered_map<std::string, std::size_t> byName;
  std::shared_ptr<const std::string> cachedList;
};

class Store {
 public:
  // Loads the data file, or creates it with the sample records (the custom ones too when asked)
  // when it does not exist. Throws StoreError.
  Store(std::string path, bool withCustomSamples);
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  const std::string& path() const { return filePath; }

  // Compact JSON arrays of every record, for the list requests.
  std::shared_ptr<const std::string> probeList();
  std::shared_ptr<const std::string> templateList();

  // Full definitions of the custom records with these ids (a JSON array of integers), in the
  // order asked, each once, as a compact JSON array; an empty array means every custom record.
  // Throws UnknownRecordError for an id that is unknown or belongs to a system record. Exported
  // alert templates carry the custom probes they depend on under "custom_probes".
  std::string exportProbes(const nlohmann::json& ids);
  std::string exportTemplates(const nlohmann::json& ids);

  // Reads items and hands each to the function it is given, in order.
  using ItemSource = std::function<void(const std::function<void(nlohmann::json& item)>&)>;

  // Imports the items in order, as they are read, and answers a compact JSON array of one
  // {"name", "status", "msg"} entry per item ("name" is "item N" for an item without a usable
  // name). Items are matched by name:
  //   created      no record of that name: added as a custom record with a fresh id
  //   overwritten  a custom record of that name: replaced, keeping its id
  //   skipped      the same, with skip_overwrite set: left unchanged
  //   failed       a system record of that name (never overwritten), or an item that lacks a
  //                key it needs or has a value of the wrong type (records.h); the rest go on
  // "msg" is null for a plain creation or overwrite and a text otherwise. For an alert template
  // the probes under "custom_probes" are imported first, following skipOverwriteProbe, and
  // reported in the template's "msg" ("Probe 'X' created"); then every name in its
  // "probe_dependency_list" must name a probe on this server, or the template fails. A template
  // that fails its own checks or clashes with a system template imports none of its probes.
  // Saves once at the end when anything changed; throws StoreError when that fails, after
  // reading the file back so that memory and disk agree again.
  std::string importProbes(const ItemSource& items, bool skipOverwrite);
  std::string importTemplates(const ItemSource& items, bool skipOverwrite, bool skipOverwriteProbe);

 private:
  struct Data {
    RecordTable probes{"is_system_probe"};
    RecordTable templates{"is_system_template"};
    std::uint64_t nextId = 1;
  };
  struct Outcome {
    std::string status;
    nlohmann::json msg;  // null or a text
  };

  static Data load(const std::string& path);
  static void save(const std::string& path, const Data& data);
  static Data fromSamples(bool withCustomSamples);

  Outcome importProbe(const nlohmann::json& item, bool skipOverwrite, bool& changed);
  Outcome importTemplate(const nlohmann::json& item, bool skipOverwrite, bool skipOverwriteProbe,
                         bool& changed);
  static void appendResult(std::string& results, const std::string& name, const Outcome& outcome);
  void commit(bool changed);

  const std::string filePath;
  std::mutex mutex;
  Data data;
};

}  // namespace korv::standin
