// What the subcommands share in their one exchange with the server: asking for the connection,
// sending, parsing the answer, judging its status, and writing the result.
#pragma once

#include <cstdint>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace CLI {
class App;
}

#include "common/error.h"
#include "common/output.h"
#include "records/export_index.h"
#include "records/fast_json.h"
#include "records/record_stream.h"
#include "web/web_connection.h"

namespace korv::cli::api {

// The API version that every subcommand speaks.
inline constexpr char kApiVersion[] = "v11";

// Logs in and returns the connection for one request. A server that does not speak the API
// version raises an IncompatibleServerError.
std::shared_ptr<web::WebConnection> connect();

// Sends the payload as compact JSON with a POST request.
void postJson(web::WebConnection& connection, const std::string& path,
              const nlohmann::json& payload);

// The whole body as one JSON document. A body that is not JSON (an empty one, or one cut short by
// a failed transfer) raises the parse-failure ResponseValidationError at the place given.
nlohmann::json parseResponse(const web::WebConnection& connection, const Place& place);

// How a command reports a failure status.
enum class FailureReport { HTTPError, ResponseValidationError };

// Raises the failure for a status outside 200 to 299, with the text of the body's "errormsg":
// as an HTTPError, or as a ResponseValidationError whose whole message is that text.
void checkStatus(const web::WebConnection& connection, const nlohmann::json& body,
                 FailureReport report, const Place& place);

// Runs a step that reads what an answer must hold. When the answer does not have that shape the
// JSON library raises a type or range error; it becomes the parse-failure ResponseValidationError
// at the place given.
template <typename Step>
decltype(auto) readAnswer(const Place& place, Step&& step) {
  try {
    return step();
  } catch (const nlohmann::json::exception&) {
    throw ResponseValidationError(kResponseParseFailure, place.function, place.line);
  }
}

// Prints the visible records of a list answer as a JSON array with one compact object per line
// (as appendCompact writes it): "[", the objects each but the last followed by ",", "]"; "[]"
// when none is visible. Every line break flushes. Nothing is printed unless the whole answer is
// read: a body that is not JSON raises the parse-failure ResponseValidationError without a place,
// and one of the wrong shape the same error at the place given. A failure status raises as
// checkStatus does.
template <typename Record, typename Visible>
void printList(const web::WebConnection& connection, std::ostream& out, Visible visible,
               const Place& place) {
  const long status = connection.ResponseCode();
  if (status < 200 || status > 299) {
    const nlohmann::json answer = parseResponse(connection, Place{"", 0});
    checkStatus(connection, answer, FailureReport::HTTPError, place);
  }
  bool first = true;
  std::string line;
  const auto print = [&](const Record& record) {
    if (!visible(record)) {
      return;
    }
    line.clear();
    appendCompact(line, record);
    out << (first ? "[" : ",") << std::endl << line;
    first = false;
    checkStandardOutput(out, place);
  };
  switch (readRecords<Record>(connection.Response(), print, web::ResponseBody::kSpare)) {
    case ReadResult::NotJson:
      throw ResponseValidationError(kResponseParseFailure, "", 0);
    case ReadResult::WrongShape:
      throw ResponseValidationError(kResponseParseFailure, place.function, place.line);
    case ReadResult::Records:
      break;
  }
  if (first) {
    out << "[";
  } else {
    out << std::endl;
  }
  out << "]" << std::endl;
  checkStandardOutput(out, place);
}

// Adds an option taking ids, each as an argument of its own: decimal numbers from 0 to
// 4294967295, leading zeros meaning nothing. Anything else (a sign, a base prefix, a fraction, an
// empty value) is the command line's conversion error.
void addIdOption(CLI::App* app, const std::string& names, std::set<std::uint32_t>& ids,
                 const std::string& description);

// What an import needs of an export: an object holding "version" and the items array.
struct ExportMembers {
  bool version = false;
  bool items = false;
  bool Complete() const { return version && items; }
};
ExportMembers findExportMembers(const nlohmann::json& document, const std::string& itemsKey);

// A success answer to an export request that the import would refuse as a file is no export: it
// raises the parse-failure ResponseValidationError at the place given.
void checkExport(const nlohmann::json& answer, const std::string& itemsKey, const Place& place);

// Where an export command writes: the file named with "-o", or else standard output. The file is
// written only once the whole export has arrived (see AtomicFile). Without "-w" it must be new: a
// name that exists, a symbolic link included (dangling or not), is refused. With "-w" a link to
// an existing file is followed, and a dangling one is replaced itself.
class ExportDestination {
 public:
  // Adds "-o,--out-file" and "-w,--overwrite" to the command's options.
  void AddOptions(CLI::App* app);
  // Adds an import's "--backup FILE" instead, which names a new file; an empty name is refused.
  void AddBackupOption(CLI::App* app, const std::string& description);
  // Whether a file was named.
  bool Named() const { return !fileName.empty(); }
  // The "-o" callback. It forgets an earlier file and "-w" first; the "-w" callback runs after
  // it wherever the two stand on the command line, since options run in the order they were added.
  bool SetFileName(const std::vector<std::string>& values);
  // Discards an unfinished export file; back to standard output, no file name, no "-w".
  void ReleaseFile();
  // Checks and opens the named file, before any request is sent, so that a file that cannot be
  // written is reported without contacting the server.
  void Open(const Place& place);
  // Writes the export in compact form, without a final line break, and makes it the file's
  // content.
  void Write(const nlohmann::json& answer, const Place& place);
  // The same with the compact form written a part at a time.
  void WriteParts(const std::function<void(const Sink&)>& write, const Place& place);
  // Writes a success answer the fast way (see fast_json.h) and returns true; returns false, with
  // nothing written, when the answer must go the JSON library's way (parseResponse, checkStatus,
  // checkExport, Write).
  bool WriteFast(const web::WebConnection& connection, const std::string& itemsKey,
                 const Place& place);

 private:
  // Ends a written export: flushed and checked on standard output, made the file's content.
  void Finish(const Place& place);

  std::ostream* out = &std::cout;
  std::string fileName;
  bool overwrite = false;
  bool fileOpen = false;
  AtomicFile outFile;
};

// The messages of an import command, which name what it imports.
struct ImportMessages {
  const char* noFile;         // no file given
  const char* missingFile;    // '%s': the file does not exist
  const char* notJson;        // the file does not start with a JSON value
  const char* missingFields;  // '%s', then "true"/"false" for "version" and for the items
  const char* notImportable;  // '%s': the file lacks "version" or the items
};

// What an import command reads: the file named with "-i", opened by Read and kept open until
// Reset.
class ImportSource {
 public:
  // Adds "-i,--in-file" to the command's options; help shows no default.
  void AddOption(CLI::App* app, const std::string& description);
  // The "-i" callback: keeps the first value as the file name, resetting nothing else.
  bool SetFileName(const std::vector<std::string>& values);
  // Closes the file and forgets its name.
  void Reset();
  const std::string& FileName() const { return fileName; }
  // Reads the file's text, once the file is found and opened.
  std::string ReadText(const ImportMessages& messages, const Place& place);
  // The file's text as one JSON document.
  nlohmann::json Parse(const std::string& text, const ImportMessages& messages,
                       const Place& place) const;
  nlohmann::json Read(const ImportMessages& messages, const Place& place) {
    return Parse(ReadText(messages, place), messages, place);
  }
  // The info record for a file that lacks "version" or the items member, which the command logs
  // from its own Perform before it calls Refuse; "" when the file has both.
  std::string MissingFields(const nlohmann::json& file, const std::string& itemsKey,
                            const ImportMessages& messages) const;
  // Raises the FileError that refuses a file lacking them.
  [[noreturn]] void Refuse(const ImportMessages& messages, const Place& place) const;

 private:
  std::string fileName;
  std::ifstream inFile;
};

// The server's verdict on one imported item; the reason is its "msg", or else its status.
struct Verdict {
  std::string name;
  std::string status;
  std::string reason;
};

// Sends an import request and prints the server's verdict per item, unless there is nowhere to
// print: a header, an underline and one line "<name>, <status>, <reason>" per entry. Nothing is
// printed for no entries. Returns the verdicts.
std::vector<Verdict> sendImport(web::WebConnection& connection, const std::string& path,
                                const nlohmann::json& payload, std::ostream* out,
                                const Place& place);
// The same with the request body already written out in compact form, or written while it is
// sent.
std::vector<Verdict> sendImport(web::WebConnection& connection, const std::string& path,
                                const std::string& body, std::ostream* out, const Place& place);
std::vector<Verdict> sendImport(web::WebConnection& connection, const std::string& path,
                                fast::ImportRequest& request, std::ostream* out,
                                const Place& place);
// Prints a heading line, then a table written earlier into its buffer (a verdict table held back
// until the whole answer was read), and checks that standard output took them.
void printUnder(std::ostream& out, const std::string& heading, std::stringstream& table,
                const Place& place);

// Checks the answer to an import request and prints its verdict table (see sendImport).
std::vector<Verdict> printVerdicts(const web::WebConnection& connection, std::ostream* out,
                                   const Place& place);

}  // namespace korv::cli::api
