#include "exchange/exchange.h"

#include <algorithm>
#include <charconv>
#include <filesystem>

#include <CLI/CLI.hpp>

#include "common/logger.h"
#include "common/path.h"
#include "common/string_utils.h"
#include "connection/rest_api.h"
#include "records/compact_json.h"
#include "records/fast_json.h"

namespace korv::cli::api {

namespace {
// How much an import file's text grows by when its size is not known beforehand.
constexpr std::size_t kReadBlock = 1 << 20;
static_assert(web::ResponseBody::kSpare >= fast::kSpare);
// The largest import file read, as large as an answer may be: an endless one (a device, a pipe
// that never ends) is refused instead of filling the memory.
constexpr std::size_t kMaxImportFile = web::kMaxResponseSize;
}  // namespace

std::shared_ptr<web::WebConnection> connect() {
  return web::API::Get(kApiVersion);
}

void postJson(web::WebConnection& connection, const std::string& path,
              const nlohmann::json& payload) {
  connection.AddHeader("Content-Type", "application/json");
  connection.Perform(path, "POST", payload.dump());
}

nlohmann::json parseResponse(const web::WebConnection& connection, const Place& place) {
  std::optional<nlohmann::json> answer = parseText(connection.Response());
  if (!answer) {
    throw ResponseValidationError(kResponseParseFailure, place.function, place.line);
  }
  return std::move(*answer);
}

void checkStatus(const web::WebConnection& connection, const nlohmann::json& body,
                 FailureReport report, const Place& place) {
  const long status = connection.ResponseCode();
  if (status >= 200 && status <= 299) {
    return;
  }
  const std::string text =
      readAnswer(place, [&] { return body.at("errormsg").get<std::string>(); });
  if (report == FailureReport::HTTPError) {
    throw HTTPError(status, text, place.function, place.line);
  }
  throw ResponseValidationError(text, place.function, place.line);
}

void addIdOption(CLI::App* app, const std::string& names, std::set<std::uint32_t>& ids,
                 const std::string& description) {
  const CLI::callback_t convert = [&ids](const CLI::results_t& values) {
    ids.clear();
    for (const std::string& value : values) {
      std::uint32_t id = 0;
      const char* end = value.data() + value.size();
      const auto [last, error] = std::from_chars(value.data(), end, id, 10);
      if (value.empty() || error != std::errc() || last != end) {
        return false;
      }
      ids.insert(id);
    }
    return true;
  };
  app->add_option(names, convert, description)
      ->type_name("UINT")
      ->expected(CLI::detail::expected_max_vector_size);
}

ExportMembers findExportMembers(const nlohmann::json& document, const std::string& itemsKey) {
  ExportMembers found;
  if (document.is_object()) {
    const auto items = document.find(itemsKey);
    found.items = items != document.end() && items->is_array();
    found.version = document.contains("version");
  }
  return found;
}

void checkExport(const nlohmann::json& answer, const std::string& itemsKey, const Place& place) {
  if (!findExportMembers(answer, itemsKey).Complete()) {
    throw ResponseValidationError(kResponseParseFailure, place.function, place.line);
  }
}

void ExportDestination::AddOptions(CLI::App* app) {
  app->add_option(
      "-o,--out-file",
      [this](const std::vector<std::string>& values) { return SetFileName(values); },
      "Output file name", true, [] { return std::string("Standard output (console)"); });
  app->add_flag_callback(
      "-w,--overwrite", [this] { overwrite = true; }, "Overwrite the existing output file.");
}

void ExportDestination::AddBackupOption(CLI::App* app, const std::string& description) {
  app->add_option(
         "--backup",
         [this](const std::vector<std::string>& values) {
           // An empty name would send the backup to standard output, among the import's verdicts.
           if (values.at(0).empty()) {
             throw UsageError(UsageError::Kind::Value, "--backup needs a file name.");
           }
           return SetFileName(values);
         },
         description)
      ->type_name("FILE");
}

bool ExportDestination::SetFileName(const std::vector<std::string>& values) {
  ReleaseFile();
  fileName = values.at(0);
  return true;
}

void ExportDestination::ReleaseFile() {
  if (fileOpen) {
    outFile.Discard();
    fileOpen = false;
    out = &std::cout;
  }
  fileName.clear();
  overwrite = false;
}

void ExportDestination::Open(const Place& place) {
  if (fileName.empty()) {
    return;
  }
  if (!overwrite && path::checkIfNameTaken(fileName)) {
    throw FileError(string::format("Output file '%s' already exists", fileName), place.function,
                    place.line);
  }
  if (!outFile.Open(fileName, overwrite)) {
    throw FileError(string::format("Failed to open the output file '%s'", fileName), place.function,
                    place.line);
  }
  fileOpen = true;
  out = &outFile.Stream();
}

void ExportDestination::Write(const nlohmann::json& answer, const Place& place) {
  *out << answer.dump();
  Finish(place);
}

void ExportDestination::WriteParts(const std::function<void(const Sink&)>& write,
                                   const Place& place) {
  write([this](std::string_view part) {
    out->write(part.data(), static_cast<std::streamsize>(part.size()));
  });
  Finish(place);
}

bool ExportDestination::WriteFast(const web::WebConnection& connection, const std::string& itemsKey,
                                  const Place& place) {
  const long status = connection.ResponseCode();
  if (status < 200 || status > 299 ||
      !fast::compactExport(connection.Response(), web::ResponseBody::kSpare, itemsKey,
                           [this](std::string_view block) {
                             out->write(block.data(), static_cast<std::streamsize>(block.size()));
                           })) {
    return false;
  }
  Finish(place);
  return true;
}

void ExportDestination::Finish(const Place& place) {
  if (!fileOpen) {
    out->flush();
    checkStandardOutput(*out, place);
  } else if (!outFile.Commit()) {
    throw FileError(string::format("Failed to write the output file '%s'", fileName),
                    place.function, place.line);
  }
}

void ImportSource::AddOption(CLI::App* app, const std::string& description) {
  app->add_option(
      "-i,--in-file",
      [this](const std::vector<std::string>& values) { return SetFileName(values); }, description);
}

bool ImportSource::SetFileName(const std::vector<std::string>& values) {
  fileName = values.at(0);
  return true;
}

void ImportSource::Reset() {
  if (inFile.is_open()) {
    inFile.close();
  }
  fileName.clear();
}

std::string ImportSource::ReadText(const ImportMessages& messages, const Place& place) {
  if (fileName.empty()) {
    throw FileError(messages.noFile, place.function, place.line);
  }
  if (!path::checkIfFileExists(fileName)) {
    throw FileError(string::format(messages.missingFile, fileName), place.function, place.line);
  }
  inFile.open(fileName);
  if (!inFile.is_open()) {
    throw FileError(string::format("Failed to open the input file '%s'", fileName), place.function,
                    place.line);
  }
  // Read into room for the whole file when its size is known, with spare room after it for the
  // fast parser, and in growing blocks otherwise.
  const FileError unreadable(string::format("Failed to read the input file '%s'", fileName),
                             place.function, place.line);
  std::string text;
  std::error_code unknown;
  const auto size = std::filesystem::file_size(fileName, unknown);
  if (!unknown) {
    if (size > kMaxImportFile) {
      throw unreadable;
    }
    text.reserve(size + fast::kSpare);
  }
  try {
    for (;;) {
      if (text.capacity() - text.size() <= fast::kSpare) {
        // Full: whether more follows decides whether to make room for it.
        char next = 0;
        if (inFile.rdbuf()->sgetn(&next, 1) <= 0) {
          break;
        }
        if (text.size() >= kMaxImportFile) {
          throw unreadable;
        }
        text.reserve(std::min(2 * text.capacity() + kReadBlock, kMaxImportFile + fast::kSpare));
        text.push_back(next);
      }
      const std::size_t had = text.size();
      const std::size_t room = text.capacity() - had - fast::kSpare;
      text.resize(had + room);
      // A read comes back short only at the end of the file, pipes included.
      const std::streamsize got =
          inFile.rdbuf()->sgetn(text.data() + had, static_cast<std::streamsize>(room));
      text.resize(had + static_cast<std::size_t>(std::max<std::streamsize>(got, 0)));
      if (got < static_cast<std::streamsize>(room)) {
        break;
      }
    }
  } catch (const std::ios_base::failure&) {
    // The file buffer raises a failed read (of a directory, or an error part-way) itself.
    throw unreadable;
  }
  return text;
}

nlohmann::json ImportSource::Parse(const std::string& text, const ImportMessages& messages,
                                   const Place& place) const {
  std::optional<nlohmann::json> document = parseText(text);
  if (!document) {
    throw FileError(messages.notJson, place.function, place.line);
  }
  return std::move(*document);
}

std::string ImportSource::MissingFields(const nlohmann::json& file, const std::string& itemsKey,
                                        const ImportMessages& messages) const {
  const ExportMembers found = findExportMembers(file, itemsKey);
  if (found.Complete()) {
    return "";
  }
  // A member that is there but holds no array is named by what it holds.
  const auto items = file.find(itemsKey);
  const std::string itemsFound = found.items ? "true"
                                 : items == file.end()
                                     ? "false"
                                     : std::string(items->type_name()) + " (not an array)";
  return string::format(messages.missingFields, fileName, found.version ? "true" : "false",
                        itemsFound);
}

void ImportSource::Refuse(const ImportMessages& messages, const Place& place) const {
  throw FileError(string::format(messages.notImportable, fileName), place.function, place.line);
}

std::vector<Verdict> sendImport(web::WebConnection& connection, const std::string& path,
                                const nlohmann::json& payload, std::ostream* out,
                                const Place& place) {
  return sendImport(connection, path, payload.dump(), out, place);
}

namespace {

// The header of the verdict table, printed before its first line.
void printVerdictHeader(std::ostream& out, const Place& place) {
  // "Probe Name" for every kind of item is the system's own text, kept on purpose.
  out << "Probe Name, Status, Reason" << std::endl;
  out << "==========, ======, ======" << std::endl;
  checkStandardOutput(out, place);
}

// One line of the verdict table. Control characters are escaped, so that a field can neither
// start a line of its own nor reach the terminal as a command.
void printVerdict(std::ostream& out, const Verdict& verdict, const Place& place) {
  std::string line;
  string::appendEscaped(line, verdict.name, false);
  line += ", ";
  string::appendEscaped(line, verdict.status, false);
  line += ", ";
  string::appendEscaped(line, verdict.reason, false);
  out << line << std::endl;
  checkStandardOutput(out, place);
}

}  // namespace

std::vector<Verdict> sendImport(web::WebConnection& connection, const std::string& path,
                                const std::string& body, std::ostream* out, const Place& place) {
  connection.AddHeader("Content-Type", "application/json");
  connection.Perform(path, "POST", body);
  return printVerdicts(connection, out, place);
}

std::vector<Verdict> sendImport(web::WebConnection& connection, const std::string& path,
                                fast::ImportRequest& request, std::ostream* out,
                                const Place& place) {
  connection.AddHeader("Content-Type", "application/json");
  const web::BodySource body{request.Size(), [&](std::string& part) { return request.Next(part); },
                             [&] { request.Restart(); }};
  connection.Perform(path, "POST", body);
  return printVerdicts(connection, out, place);
}

void printUnder(std::ostream& out, const std::string& heading, std::stringstream& table,
                const Place& place) {
  out << heading << std::endl;
  // Streamed from its buffer, not copied; a buffer with nothing in it would mark the stream
  // failed.
  if (table.tellp() > 0) {
    out << table.rdbuf();
  }
  out << std::flush;
  checkStandardOutput(out, place);
}

std::vector<Verdict> printVerdicts(const web::WebConnection& connection, std::ostream* out,
                                   const Place& place) {
  std::vector<Verdict> verdicts;
  bool headed = false;
  const auto head = [&] {
    if (out != nullptr && !headed) {
      printVerdictHeader(*out, place);
      headed = true;
    }
  };
  const auto take = [&](Verdict verdict) {
    if (out != nullptr) {
      head();
      printVerdict(*out, verdict, place);
    }
    verdicts.push_back(std::move(verdict));
  };
  const long code = connection.ResponseCode();
  if (code >= 200 && code <= 299) {
    const auto print = [&](const fast::Verdict& verdict) {
      take({verdict.name, verdict.status, verdict.msg.value_or(verdict.status)});
    };
    if (fast::importVerdicts(connection.Response(), web::ResponseBody::kSpare, print)) {
      return verdicts;
    }
  }

  const nlohmann::json answer = parseResponse(connection, place);
  checkStatus(connection, answer, FailureReport::HTTPError, place);
  const auto& results = readAnswer(place, [&]() -> const nlohmann::json::array_t& {
    return answer.at("result").get_ref<const nlohmann::json::array_t&>();
  });
  // The header stands even above an entry that cannot be read.
  if (!results.empty()) {
    head();
  }
  for (const auto& entry : results) {
    Verdict verdict;
    readAnswer(place, [&] {
      verdict.name = entry.at("name").get<std::string>();
      verdict.status = entry.at("status").get<std::string>();
      const auto msg = entry.find("msg");
      verdict.reason =
          msg != entry.end() && !msg->is_null() ? msg->get<std::string>() : verdict.status;
    });
    take(std::move(verdict));
  }
  return verdicts;
}

}  // namespace korv::cli::api
