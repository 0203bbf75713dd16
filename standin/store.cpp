#include "store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unordered_set>
#include <utility>

#include "records.h"
#include "samples.h"

namespace korv::standin {
namespace {

using nlohmann::json;

// Owns a file descriptor.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd(fd) {}
  ~FileDescriptor() {
    if (fd >= 0) {
      ::close(fd);
    }
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int get() const { return fd; }
  // Closes now, for callers that must see the result of close.
  int close() {
    const int result = ::close(fd);
    fd = -1;
    return result;
  }

 private:
  int fd;
};

// Removes a temporary file unless it was renamed into place.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::string path) : path(std::move(path)) {}
  ~TemporaryFile() {
    if (!renamed) {
      ::unlink(path.c_str());
    }
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  void markRenamed() { renamed = true; }

 private:
  std::string path;
  bool renamed = false;
};

std::string quoted(const std::string& text) {
  return "'" + text + "'";
}

[[noreturn]] void failWrite(const std::string& path) {
  throw StoreError("Cannot write the data file " + quoted(path) + ": " + std::strerror(errno));
}

void writeAll(int fd, const std::string& text, const std::string& path) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t written = ::write(fd, text.data() + done, text.size() - done);
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      failWrite(path);
    }
    done += static_cast<std::size_t>(written);
  }
}

std::uint64_t idOf(const json& record) {
  return record.at("id").get<std::uint64_t>();
}

const std::string& nameOf(const json& record) {
  return record.at("name").get_ref<const std::string&>();
}

// How an import result names an item: its name, or its place when it has no usable name.
std::string itemName(const json& item, std::size_t position) {
  if (item.is_object()) {
    const auto name = item.find("name");
    if (name != item.end() && name->is_string() && !name->get_ref<const std::string&>().empty()) {
      return name->get<std::string>();
    }
  }
  return "item " + std::to_string(position + 1);
}

// Adds an element to the compact JSON array being built in `array`, which starts with "[".
void appendElement(std::string& array, const std::string& element) {
  if (array.size() > 1) {
    array += ',';
  }
  array += element;
}

// Writes a file through a buffer of about a mebibyte: its whole text is never in memory.
class BufferedWriter {
 public:
  BufferedWriter(int fd, const std::string& path) : fd(fd), path(path) {}

  void put(const std::string& text) {
    buffer += text;
    if (buffer.size() >= kChunk) {
      flush();
    }
  }
  void flush() {
    writeAll(fd, buffer, path);
    buffer.clear();
  }

 private:
  static constexpr std::size_t kChunk = 1 << 20;
  int fd;
  const std::string& path;
  std::string buffer;
};

// A table as the data file holds it: one compact record per line.
void writeArray(BufferedWriter& out, const RecordTable& table) {
  if (table.size() == 0) {
    out.put("[]");
    return;
  }
  out.put("[\n");
  for (std::size_t i = 0; i < table.size(); ++i) {
    if (i > 0) {
      out.put(",\n");
    }
    out.put(table.textAt(i));
  }
  out.put("\n]");
}

std::string joined(const std::vector<std::string>& parts, const std::string& separator) {
  std::string text;
  for (const auto& part : parts) {
    if (!text.empty()) {
      text += separator;
    }
    text += part;
  }
  return text;
}

json messageOf(const std::vector<std::string>& parts) {
  return parts.empty() ? json(nullptr) : json(joined(parts, "; "));
}

// Adds the record read from the data file as the given place of its table.
void loadRecord(const json& record, const std::string& place, std::string (*problemOf)(const json&),
                RecordTable& table, std::uint64_t& highestId) {
  const std::string problem = problemOf(record);
  if (!problem.empty()) {
    throw std::runtime_error(place + ": " + problem);
  }
  if (table.findId(record.at("id"))) {
    throw std::runtime_error(place + ": id " + record.at("id").dump() + " is used twice");
  }
  if (table.findName(nameOf(record))) {
    throw std::runtime_error(place + ": the name " + quoted(nameOf(record)) + " is used twice");
  }
  highestId = std::max(highestId, idOf(record));
  table.add(record);
}

}  // namespace

json RecordTable::at(std::size_t index) const {
  return json::parse(records.at(index).text);
}

std::optional<std::size_t> RecordTable::findId(const json& id) const {
  if (!id.is_number_unsigned() && !(id.is_number_integer() && id.get<std::int64_t>() >= 0)) {
    return std::nullopt;
  }
  const auto found = byId.find(id.get<std::uint64_t>());
  if (found == byId.end()) {
    return std::nullopt;
  }
  return found->second;
}

std::optional<std::size_t> RecordTable::findName(const std::string& name) const {
  const auto found = byName.find(name);
  if (found == byName.end()) {
    return std::nullopt;
  }
  return found->second;
}

RecordTable::Entry RecordTable::entryOf(const json& record) const {
  std::string text = record.dump();
  text.shrink_to_fit();  // the text grew by doubling; it is kept for long
  return {std::move(text), idOf(record), record.at(systemKey).get<bool>()};
}

void RecordTable::add(const json& record) {
  byId.emplace(idOf(record), records.size());
  byName.emplace(nameOf(record), records.size());
  records.push_back(entryOf(record));
  cachedList.reset();
}

void RecordTable::replace(std::size_t index, const json& record) {
  records.at(index) = entryOf(record);
  cachedList.reset();
}

std::shared_ptr<const std::string> RecordTable::listText() {
  if (!cachedList) {
    std::size_t size = 2;
    for (const auto& record : records) {
      size += record.text.size() + 1;
    }
    std::string text = "[";
    text.reserve(size);
    for (const auto& record : records) {
      appendElement(text, record.text);
    }
    text += ']';
    cachedList = std::make_shared<const std::string>(std::move(text));
  }
  return cachedList;
}

Store::Store(std::string path, bool withCustomSamples) : filePath(std::move(path)) {
  std::error_code error;
  const bool exists = std::filesystem::exists(filePath, error);
  if (error) {
    throw StoreError("Cannot look for the data file " + quoted(filePath) + ": " + error.message());
  }
  if (exists) {
    data = load(filePath);
  } else {
    data = fromSamples(withCustomSamples);
    save(filePath, data);
  }
}

Store::Data Store::load(const std::string& path) {
  if (std::filesystem::is_directory(path)) {
    throw StoreError("The data file " + quoted(path) + " is a directory");
  }
  std::ifstream in(path, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.is_open() || in.bad()) {
    throw StoreError("Cannot read the data file " + quoted(path));
  }
  if (nestedTooDeep(text)) {
    throw StoreError("The data file " + quoted(path) + " is nested deeper than " +
                     std::to_string(kMaxNesting) + " levels");
  }
  Data loaded;
  std::uint64_t highestId = 0;
  const auto add = [&](const std::string& member, json& record) {
    if (member == "probes") {
      const std::string place = "probe " + std::to_string(loaded.probes.size() + 1);
      loadRecord(record, place, storedProbeProblem, loaded.probes, highestId);
    } else {
      const std::string place = "alert template " + std::to_string(loaded.templates.size() + 1);
      loadRecord(record, place, storedTemplateProblem, loaded.templates, highestId);
    }
  };
  try {
    const json document = parseRecords(text, {"probes", "alert_templates"}, add);
    if (!document.is_object()) {
      throw std::runtime_error("it is not a JSON object");
    }
    for (const char* key : {"probes", "alert_templates"}) {
      const auto found = document.find(key);
      if (found != document.end() && !found->is_array()) {
        throw std::runtime_error(std::string("member '") + key + "' must be an array");
      }
    }
    loaded.nextId = highestId + 1;
    const auto nextId = document.find("next_id");
    if (nextId != document.end()) {
      if (!nextId->is_number_unsigned()) {
        throw std::runtime_error("member 'next_id' must be an unsigned integer");
      }
      loaded.nextId = std::max(loaded.nextId, nextId->get<std::uint64_t>());
    }
  } catch (const json::parse_error& e) {
    throw StoreError("The data file " + quoted(path) + " is not JSON: " + e.what());
  } catch (const std::runtime_error& e) {
    throw StoreError("The data file " + quoted(path) + " is not a data file: " + e.what());
  }
  return loaded;
}

void Store::save(const std::string& path, const Data& data) {
  std::string temporaryPath = path + ".XXXXXX";
  FileDescriptor file(::mkstemp(temporaryPath.data()));
  if (file.get() < 0) {
    failWrite(path);
  }
  TemporaryFile temporary(temporaryPath);
  struct stat existing {};
  if (::stat(path.c_str(), &existing) == 0) {
    ::fchmod(file.get(), existing.st_mode & 07777);
  }
  BufferedWriter out(file.get(), path);
  out.put("{\"next_id\":" + std::to_string(data.nextId) + ",\n\"probes\":");
  writeArray(out, data.probes);
  out.put(",\n\"alert_templates\":");
  writeArray(out, data.templates);
  out.put("}\n");
  out.flush();
  if (::fsync(file.get()) != 0 || file.close() != 0) {
    failWrite(path);
  }
  if (::rename(temporaryPath.c_str(), path.c_str()) != 0) {
    failWrite(path);
  }
  temporary.markRenamed();

  // Make the rename itself durable.
  std::string directory = std::filesystem::path(path).parent_path().string();
  if (directory.empty()) {
    directory = ".";
  }
  FileDescriptor directoryFile(::open(directory.c_str(), O_RDONLY | O_DIRECTORY));
  if (directoryFile.get() >= 0) {
    ::fsync(directoryFile.get());
  }
}

Store::Data Store::fromSamples(bool withCustomSamples) {
  SampleSet samples = sampleRecords(withCustomSamples);
  Data created;
  for (auto& probe : samples.probes) {
    probe["id"] = created.nextId++;
    created.probes.add(probe);
  }
  for (auto& alertTemplate : samples.alertTemplates) {
    alertTemplate["id"] = created.nextId++;
    created.templates.add(alertTemplate);
  }
  return created;
}

std::shared_ptr<const std::string> Store::probeList() {
  std::lock_guard<std::mutex> lock(mutex);
  return data.probes.listText();
}

std::shared_ptr<const std::string> Store::templateList() {
  std::lock_guard<std::mutex> lock(mutex);
  return data.templates.listText();
}

namespace {

// The places of the custom records that an export asks for; see Store::exportProbes.
std::vector<std::size_t> chosenRecords(const RecordTable& table, const json& ids,
                                       const std::string& kind) {
  std::vector<std::size_t> chosen;
  if (ids.empty()) {
    for (std::size_t i = 0; i < table.size(); ++i) {
      if (!table.isSystem(i)) {
        chosen.push_back(i);
      }
    }
    return chosen;
  }
  std::unordered_set<std::size_t> seen;
  for (const auto& id : ids) {
    const auto index = table.findId(id);
    if (!index) {
      throw UnknownRecordError("There is no " + kind + " with the id " + id.dump());
    }
    if (table.isSystem(*index)) {
      throw UnknownRecordError("The " + kind + " with the id " + id.dump() + " is a system " +
                               kind + ": only custom ones can be exported");
    }
    if (seen.insert(*index).second) {
      chosen.push_back(*index);
    }
  }
  return chosen;
}

}  // namespace

std::string Store::exportProbes(const json& ids) {
  std::lock_guard<std::mutex> lock(mutex);
  std::string exported = "[";
  for (const auto index : chosenRecords(data.probes, ids, "probe")) {
    appendElement(exported, data.probes.textAt(index));
  }
  return exported + "]";
}

std::string Store::exportTemplates(const json& ids) {
  std::lock_guard<std::mutex> lock(mutex);
  std::string exported = "[";
  for (const auto index : chosenRecords(data.templates, ids, "alert template")) {
    json alertTemplate = data.templates.at(index);
    json carried = json::array();
    for (const auto& dependency : alertTemplate.at("probe_dependency_list")) {
      const auto probe = data.probes.findName(dependency.get<std::string>());
      if (probe && !data.probes.isSystem(*probe)) {
        carried.push_back(data.probes.at(*probe));
      }
    }
    alertTemplate[kCarriedProbesKey] = std::move(carried);
    appendElement(exported, alertTemplate.dump());
  }
  return exported + "]";
}

void Store::appendResult(std::string& results, const std::string& name, const Outcome& outcome) {
  appendElement(results,
                json{{"name", name}, {"status", outcome.status}, {"msg", outcome.msg}}.dump(
                    -1, ' ', false, json::error_handler_t::replace));
}

std::string Store::importProbes(const ItemSource& items, bool skipOverwrite) {
  std::lock_guard<std::mutex> lock(mutex);
  std::string results = "[";
  bool changed = false;
  std::size_t position = 0;
  items([&](json& item) {
    appendResult(results, itemName(item, position++), importProbe(item, skipOverwrite, changed));
  });
  commit(changed);
  return results + "]";
}

std::string Store::importTemplates(const ItemSource& items, bool skipOverwrite,
                                   bool skipOverwriteProbe) {
  std::lock_guard<std::mutex> lock(mutex);
  std::string results = "[";
  bool changed = false;
  std::size_t position = 0;
  items([&](json& item) {
    appendResult(results, itemName(item, position++),
                 importTemplate(item, skipOverwrite, skipOverwriteProbe, changed));
  });
  commit(changed);
  return results + "]";
}

Store::Outcome Store::importProbe(const json& item, bool skipOverwrite, bool& changed) {
  json record = item;
  const std::string problem = completeImportedProbe(record);
  if (!problem.empty()) {
    return {kFailed, problem};
  }
  record[kSystemProbeKey] = false;
  const auto existing = data.probes.findName(nameOf(record));
  if (existing) {
    if (data.probes.isSystem(*existing)) {
      return {kFailed, "Clashes with a system probe: system probes are never overwritten"};
    }
    if (skipOverwrite) {
      return {kSkipped, "Exists already: left unchanged"};
    }
    record["id"] = data.probes.idAt(*existing);
    data.probes.replace(*existing, record);
    changed = true;
    return {kOverwritten, nullptr};
  }
  record["id"] = data.nextId++;
  data.probes.add(record);
  changed = true;
  return {kCreated, nullptr};
}

Store::Outcome Store::importTemplate(const json& item, bool skipOverwrite, bool skipOverwriteProbe,
                                     bool& changed) {
  json record = item;
  json carried = json::array();
  if (record.is_object()) {
    const auto found = record.find(kCarriedProbesKey);
    if (found != record.end()) {
      if (!found->is_array()) {
        return {kFailed,
                std::string("Member '") + kCarriedProbesKey + "' must be an array of probes"};
      }
      carried = std::move(*found);
      record.erase(kCarriedProbesKey);
    }
  }
  const std::string problem = completeImportedTemplate(record);
  if (!problem.empty()) {
    return {kFailed, problem};
  }
  record[kSystemTemplateKey] = false;
  const auto existing = data.templates.findName(nameOf(record));
  if (existing && data.templates.isSystem(*existing)) {
    return {kFailed,
            "Clashes with a system alert template: system templates are never overwritten"};
  }

  // The carried probes go first, so that the template's dependencies can be met by them.
  std::vector<std::string> notes;
  for (std::size_t i = 0; i < carried.size(); ++i) {
    const Outcome outcome = importProbe(carried[i], skipOverwriteProbe, changed);
    std::string note = "Probe " + quoted(itemName(carried[i], i)) + " " + outcome.status;
    if (outcome.msg.is_string()) {
      note += " (" + outcome.msg.get<std::string>() + ")";
    }
    notes.push_back(std::move(note));
  }

  std::vector<std::string> missing;
  for (const auto& dependency : record.at("probe_dependency_list")) {
    if (!data.probes.findName(dependency.get<std::string>())) {
      missing.push_back(quoted(dependency.get<std::string>()));
    }
  }
  if (!missing.empty()) {
    notes.insert(notes.begin(),
                 "Depends on probes this server does not have: " + joined(missing, " and "));
    return {kFailed, messageOf(notes)};
  }
  if (existing) {
    if (skipOverwrite) {
      notes.insert(notes.begin(), "Exists already: left unchanged");
      return {kSkipped, messageOf(notes)};
    }
    record["id"] = data.templates.idAt(*existing);
    data.templates.replace(*existing, record);
    changed = true;
    return {kOverwritten, messageOf(notes)};
  }
  record["id"] = data.nextId++;
  data.templates.add(record);
  changed = true;
  return {kCreated, messageOf(notes)};
}

void Store::commit(bool changed) {
  if (!changed) {
    return;
  }
  try {
    save(filePath, data);
  } catch (const StoreError& error) {
    // Memory now holds changes that the file does not: go back to what the file holds.
    try {
      data = load(filePath);
    } catch (const StoreError&) {
      // The file cannot be read either; keep serving what is in memory.
    }
    throw StoreError(std::string(error.what()) + ": the import was not saved");
  }
}

}  // namespace korv::standin
