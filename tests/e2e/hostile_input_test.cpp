// Every parser test file of JSONTestSuite (y_: must parse, n_: must not, i_: either) as an import
// file and as the body of a success answer to each request: the run gives the normal result or one
// line on standard error with status 4, and never crashes, hangs, prints half a result, leaves an
// export file behind or keeps its token.
#include <dirent.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "tests/support/cli_test.h"

namespace korv::test {
namespace {

using ::testing::IsEmpty;

constexpr char kParseFailure[] = "Failed to parse the response from the KORV Server.\n";
constexpr auto kRunTimeout = std::chrono::seconds(30);

struct SuiteFile {
  std::string name;
  std::string content;
  char verdict;  // 'y', 'n' or 'i'
};

const std::vector<SuiteFile>& suiteFiles() {
  static const std::vector<SuiteFile> files = [] {
    const std::string dir = std::string(KORV_TEST_DATA) + "/JSONTestSuite/test_parsing";
    std::vector<SuiteFile> found;
    if (DIR* stream = ::opendir(dir.c_str())) {
      while (const dirent* entry = ::readdir(stream)) {
        const std::string name = entry->d_name;
        if (name.size() > 5 && name.compare(name.size() - 5, 5, ".json") == 0) {
          found.push_back({name, ReadFile(dir + "/" + name), name[0]});
        }
      }
      ::closedir(stream);
    }
    std::sort(found.begin(), found.end(),
              [](const SuiteFile& a, const SuiteFile& b) { return a.name < b.name; });
    return found;
  }();
  return files;
}

// The text as the client writes a document it parsed: compact, keys sorted; nothing when the text
// is not one JSON value. (The parser takes a NUL byte for the end of the text, but a NUL may stand
// nowhere in JSON.)
std::optional<std::string> reserialised(const std::string& text) {
  if (text.find('\0') != std::string::npos) {
    return std::nullopt;
  }
  try {
    return nlohmann::json::parse(text).dump();
  } catch (const nlohmann::json::exception&) {
    return std::nullopt;
  }
}

// What every run must show, whatever it was given: it ended by itself, with status 0 and nothing
// on standard error or with status 4 and one line there, and it released the token it obtained.
std::string unsound(const ProcessResult& result, size_t loggedIn, size_t released) {
  std::string found;
  if (result.timedOut) {
    found += " hung;";
  } else if (result.signaled) {
    found += " ended by signal " + std::to_string(result.status - 128) + ";";
  } else if (result.status == 4) {
    if (result.err.empty() || result.err.back() != '\n' ||
        std::count(result.err.begin(), result.err.end(), '\n') != 1) {
      found += " not one line on standard error: '" + result.err + "';";
    }
  } else if (result.status != 0) {
    found += " status " + std::to_string(result.status) + " (" + result.err + ");";
  } else if (!result.err.empty()) {
    found += " succeeded with '" + result.err + "' on standard error;";
  }
  if (released != loggedIn) {
    found += " " + std::to_string(loggedIn) + " login(s) but " + std::to_string(released) +
             " release(s);";
  }
  return found;
}

// A scripted server and a home directory of its own for each thread, so that runs on different
// threads neither share replies nor logs, and each run's requests can be counted.
struct Worker {
  StubServer server;
  TempDir home;
  TempDir files;  // import files and export targets
  // The requests of the last run, and its logins and token releases among them.
  std::vector<ReceivedRequest> sent;
  size_t loggedIn = 0;
  size_t released = 0;

  Worker() { server.ServeSession(); }

  // Runs a subcommand against the server; what is unsound about the run is added to found.
  ProcessResult Run(std::vector<std::string> args, std::string& found) {
    ProcessOptions options;
    options.args = {"-p", server.BaseUrl(), "-u", "admin"};
    options.args.insert(options.args.end(), args.begin(), args.end());
    options.environment = {"HOME=" + home.Path(), "PATH=/usr/bin:/bin", "KORV_API_PASSWORD=secret"};
    for (const auto& entry : InheritedSanitizerEnvironment()) {
      options.environment.push_back(entry);
    }
    ProcessResult result = test::Run(KORV_CLI_PATH, std::move(options), kRunTimeout);
    const auto all = server.Requests();
    sent.assign(all.begin() + static_cast<std::ptrdiff_t>(earlier), all.end());
    earlier = all.size();
    loggedIn = released = 0;
    for (const auto& request : sent) {
      loggedIn += request.method == "POST" && request.path == "/api/token/" ? 1 : 0;
      released += request.method == "DELETE" && request.path == "/api/token/" ? 1 : 0;
    }
    found += unsound(result, loggedIn, released);
    return result;
  }

 private:
  size_t earlier = 0;  // requests before the last run
};

// Runs check on every suite file, spread over a few threads. Returns one line per file whose check
// found problems.
std::vector<std::string> checkEveryFile(
    const std::function<std::string(Worker&, const SuiteFile&)>& check) {
  const auto& files = suiteFiles();
  EXPECT_EQ(files.size(), 318u);
  std::atomic<size_t> next{0};
  std::mutex mutex;
  std::vector<std::string> problems;
  std::vector<std::thread> threads;
  for (int i = 0; i < 3; ++i) {
    threads.emplace_back([&] {
      Worker worker;
      for (size_t index; (index = next++) < files.size();) {
        const std::string found = check(worker, files[index]);
        if (!found.empty()) {
          std::lock_guard<std::mutex> lock(mutex);
          problems.push_back(files[index].name + ":" + found);
        }
      }
    });
  }
  for (auto& thread : threads) {
    thread.join();
  }
  std::sort(problems.begin(), problems.end());
  return problems;
}

// A run that must fail with the parse-failure line and print nothing.
void expectParseFailure(const ProcessResult& result, std::string& found) {
  if (result.status != 4 || result.err != kParseFailure || !result.out.empty()) {
    found += " expected the parse failure, got status " + std::to_string(result.status) +
             " with '" + result.err + "' and output '" + result.out.substr(0, 80) + "';";
  }
}

// Whether a parser test file's verdict agrees with how the client's parser took it.
void expectVerdictKept(const SuiteFile& file, bool parsed, std::string& found) {
  if ((file.verdict == 'y' && !parsed) || (file.verdict == 'n' && parsed)) {
    found += parsed ? " parsed a text that is not JSON;" : " refused a JSON text;";
  }
}

// The commands and requests of one kind of record.
struct Kind {
  const char* name;
  const char* list;
  const char* listPath;
  const char* exportCommand;
  const char* exportPath;
  const char* importCommand;
  const char* importPath;
  const char* itemsKey;
  const char* switches;       // the import payload's members between the items and "version"
  const char* notJson;        // the import file does not start with a JSON value
  const char* notImportable;  // after "Input file '<path>"
  std::string record;         // a record as the server lists it, after its opening brace
  std::string printed;        // the same record as the list prints it
};

const Kind kProbes{
    "Probes",
    "list-probes",
    "/api/v11/probe/",
    "export-probes",
    "/api/v11/probe/custom/export/",
    "import-probes",
    "/api/v11/probe/custom/import/",
    "probes",
    R"("skip_overwrite":false,)",
    "Input file is not a valid probe file.",
    "' does not contain valid formatted data for importing the probes.",
    R"("discard_history":false,"enabled":true,"id":1,"internal_name":"cpu_int","interval":60,)"
    R"("is_system_probe":false,"level":"server","lifetime":30,"name":"cpu","platform":"linux"})",
    R"({"id":1,"name":"cpu","internal_name":"cpu_int","level":"server","platform":"linux",)"
    R"("enabled":true,"interval":60,"lifetime":30,"discard_history":false,"is_system_probe":false})",
};

const Kind kAlertTemplates{
    "AlertTemplates",
    "list-alert-templates",
    "/api/v11/alert/template/",
    "export-alert-templates",
    "/api/v11/alert/custom/export/",
    "import-alert-templates",
    "/api/v11/alert/custom/import/",
    "alert_templates",
    R"("skip_overwrite":false,"skip_overwrite_probe":false,)",
    "Input file is not a valid alert template file.",
    "' does not contain valid formatted data for importing the alert templates.",
    R"("default_check_frequency":5,"default_history_retention":30,"description":"",)"
    R"("high_threshold_value":"90","id":1,"info_sql":"","is_auto_create":false,)"
    R"("is_system_template":false,"low_threshold_value":"50","medium_threshold_value":"75",)"
    R"("name":"cpu","object_type":"server","operator":">","probe_dependency_list":["cpu"]})",
    R"({"id":1,"name":"cpu","object_type":"server","server_type":"","auto_create":false,)"
    R"("is_system_template":false,"show_details":false,"probe_depenencies":["cpu"],)"
    R"("check_frequency":5,"history_retention":30,"threshold":{"operator":">","low":"50",)"
    R"("medium":"75","high":"90"}})",
};

// Each group of tests runs once per kind of record, as tests of their own that ctest can run side
// by side.
class Hostile : public ::testing::TestWithParam<const Kind*> {
 protected:
  const Kind& kind = *GetParam();
};
std::string kindName(const ::testing::TestParamInfo<const Kind*>& info) {
  return info.param->name;
}
#define KORV_FOR_EACH_KIND(suite) \
  INSTANTIATE_TEST_SUITE_P(Each, suite, ::testing::Values(&kProbes, &kAlertTemplates), kindName)

// An import file that the import commands accept.
std::string importable(Worker& worker, const Kind& kind) {
  const std::string path = worker.files / "import.json";
  WriteFile(path, std::string(R"({")") + kind.itemsKey + R"(":[],"version":1})", 0644);
  return path;
}

class HostileImportFile : public Hostile {};
KORV_FOR_EACH_KIND(HostileImportFile);

TEST_P(HostileImportFile, IsRefusedWithOneLineBeforeAnythingIsSent) {
  const auto problems = checkEveryFile([this](Worker& worker, const SuiteFile& file) {
    std::string found;
    const std::string path = worker.files / file.name;
    WriteFile(path, file.content, 0644);
    // No suite file has both the items and "version", so none can be imported.
    const ProcessResult result = worker.Run({kind.importCommand, "-i", path}, found);
    // A file whose first value is JSON is read up to that value, whatever follows it.
    const bool parsed = result.err == "Input file '" + path + kind.notImportable + "\n";
    if (result.status != 4 || !result.out.empty() || !worker.sent.empty() ||
        (!parsed && result.err != std::string(kind.notJson) + "\n")) {
      found += " status " + std::to_string(result.status) + ", '" + result.err + "';";
    }
    if (file.verdict == 'y' && !parsed) {
      found += " refused a JSON text;";
    }
    return found;
  });
  EXPECT_THAT(problems, IsEmpty());
}

TEST_P(HostileImportFile, CarriesAnyJsonValueAsTheVersionUnchanged) {
  const auto problems = checkEveryFile([this](Worker& worker, const SuiteFile& file) {
    std::string found;
    worker.server.On("POST", kind.importPath, Reply(200, R"({"result":[]})"));
    const std::string path = worker.files / file.name;
    const std::string content =
        std::string(R"({")") + kind.itemsKey + R"(":[],"version":)" + file.content + "}";
    WriteFile(path, content, 0644);
    const ProcessResult result = worker.Run({kind.importCommand, "-i", path}, found);
    // The file's first JSON value is what counts; text after it is not read. So a suite file
    // that is not JSON only because of what follows its first value is imported.
    std::optional<std::string> version;
    try {
      std::istringstream in(content);
      nlohmann::json document;
      in >> document;
      version = document.at("version").dump();
    } catch (const nlohmann::json::exception&) {
    }
    if (file.verdict == 'y' && result.status != 0) {
      found += " refused a JSON text;";
    }
    if (version) {
      // Logged in, imported, released.
      const std::string payload = std::string(R"({")") + kind.itemsKey + R"(":[],)" +
                                  kind.switches + R"("version":)" + *version + "}";
      if (result.status != 0 || !result.out.empty() || worker.sent.size() != 3 ||
          worker.sent[1].path != kind.importPath || worker.sent[1].body != payload) {
        found += " not imported as '" + *version + "';";
      }
    } else if (result.status != 4 || result.err != std::string(kind.notJson) + "\n" ||
               !worker.sent.empty()) {
      found += " not refused as unreadable: '" + result.err + "';";
    }
    return found;
  });
  EXPECT_THAT(problems, IsEmpty());
}

class HostileListAnswer : public Hostile {};
KORV_FOR_EACH_KIND(HostileListAnswer);

TEST_P(HostileListAnswer, PrintsAWholeListOrReportsTheAnswerAsUnparsable) {
  const auto problems = checkEveryFile([this](Worker& worker, const SuiteFile& file) {
    std::string found;
    worker.server.On("GET", kind.listPath, Reply(200, file.content));
    const ProcessResult result = worker.Run({kind.list, "-c", "all"}, found);
    // No suite file is an array of records, so an empty array is the only list one can hold.
    if (reserialised(file.content) == "[]") {
      if (result.status != 0 || result.out != "[]\n") {
        found += " did not print '[]';";
      }
    } else {
      expectParseFailure(result, found);
    }
    return found;
  });
  EXPECT_THAT(problems, IsEmpty());
}

TEST_P(HostileListAnswer, InsideARecordIsSkippedWhenItIsJsonAndOtherwiseReported) {
  const auto problems = checkEveryFile([this](Worker& worker, const SuiteFile& file) {
    std::string found;
    // The unknown member comes first, so the members the record needs are read after it.
    const std::string body = R"([{"extra":)" + file.content + "," + kind.record + "]";
    worker.server.On("GET", kind.listPath, Reply(200, body));
    const ProcessResult result = worker.Run({kind.list}, found);
    expectVerdictKept(file, result.status == 0, found);
    if (!reserialised(body)) {
      expectParseFailure(result, found);
    } else if (result.status != 0 || result.out != "[\n" + kind.printed + "\n]\n") {
      found += " status " + std::to_string(result.status) + " printed '" + result.out + "';";
    }
    return found;
  });
  EXPECT_THAT(problems, IsEmpty());
}

size_t entryCount(const std::string& dir) {
  size_t count = 0;
  if (DIR* stream = ::opendir(dir.c_str())) {
    while (const dirent* entry = ::readdir(stream)) {
      const std::string name = entry->d_name;
      count += name != "." && name != ".." ? 1 : 0;
    }
    ::closedir(stream);
  }
  return count;
}

// The export to standard output, or (with a target) to a file.
std::string checkExport(Worker& worker, const SuiteFile& file, const Kind& kind, bool toFile) {
  std::string found;
  const auto written = reserialised(file.content);
  worker.server.On("POST", kind.exportPath, Reply(200, file.content));
  std::vector<std::string> args = {kind.exportCommand, "-i", "1"};
  const std::string target = worker.files / "export.json";
  if (toFile) {
    args.insert(args.end(), {"-o", target});
  }
  const ProcessResult result = worker.Run(args, found);
  expectVerdictKept(file, result.status == 0, found);
  if (!written) {
    expectParseFailure(result, found);
  } else if (result.status != 0) {
    found += " failed with '" + result.err + "';";
  } else if ((toFile ? ReadFile(target) : result.out) != *written) {
    found += " wrote something else than '" + written->substr(0, 80) + "';";
  }
  if (toFile) {
    if (!result.out.empty()) {
      found += " printed '" + result.out + "';";
    }
    // Nothing but the finished export is left in the directory.
    const size_t entries = entryCount(worker.files.Path());
    if (entries != (result.status == 0 ? 1u : 0u)) {
      found += " " + std::to_string(entries) + " file(s) left;";
    }
    ::unlink(target.c_str());
  }
  return found;
}

class HostileExportAnswer : public Hostile {};
KORV_FOR_EACH_KIND(HostileExportAnswer);

TEST_P(HostileExportAnswer, IsWrittenSortedAndCompactOrReportedToStandardOutput) {
  EXPECT_THAT(checkEveryFile([this](Worker& worker, const SuiteFile& file) {
                return checkExport(worker, file, kind, false);
              }),
              IsEmpty());
}

TEST_P(HostileExportAnswer, IsWrittenSortedAndCompactOrLeavesNoFile) {
  EXPECT_THAT(checkEveryFile([this](Worker& worker, const SuiteFile& file) {
                return checkExport(worker, file, kind, true);
              }),
              IsEmpty());
}

class HostileImportAnswer : public Hostile {};
KORV_FOR_EACH_KIND(HostileImportAnswer);

TEST_P(HostileImportAnswer, IsReportedAsUnparsableWithNothingPrinted) {
  const auto problems = checkEveryFile([this](Worker& worker, const SuiteFile& file) {
    std::string found;
    // No suite file has a "result" member, so none is a verdict the import can print.
    worker.server.On("POST", kind.importPath, Reply(200, file.content));
    expectParseFailure(worker.Run({kind.importCommand, "-i", importable(worker, kind)}, found),
                       found);
    return found;
  });
  EXPECT_THAT(problems, IsEmpty());
}

// A NUL byte may stand nowhere in a JSON text, so an answer holding one is not JSON, however much
// of it reads as JSON before it.
class AnswerWithANulByte : public Hostile {};
KORV_FOR_EACH_KIND(AnswerWithANulByte);

TEST_P(AnswerWithANulByte, IsUnparsableForEveryRequest) {
  struct Case {
    std::vector<std::string> args;
    const char* method;
    const char* path;
    std::string body;
  };
  Worker worker;
  const std::string nul(1, '\0');
  const Case cases[] = {
      {{kind.list}, "GET", kind.listPath, "[]" + nul + "]"},
      {{kind.exportCommand}, "POST", kind.exportPath, R"({"version":1})" + nul + "x"},
      {{kind.importCommand, "-i", importable(worker, kind)},
       "POST",
       kind.importPath,
       R"({"result":[]})" + nul + "x"},
  };
  for (const auto& [args, method, path, body] : cases) {
    SCOPED_TRACE(args[0]);
    worker.server.On(method, path, Reply(200, body));
    std::string found;
    expectParseFailure(worker.Run(args, found), found);
    EXPECT_EQ(found, "");
  }
  // The token came before the answer turned out unreadable, so it is given back.
  worker.server.On("POST", "/api/token/",
                   Reply(201, R"({"supported_api_versions":["v11_api"]})" + nul + "x",
                         {{"X-Subject-Token", "tok-123"}}));
  std::string ignored;  // a failed login has a status of its own
  const ProcessResult result = worker.Run({kind.list}, ignored);
  EXPECT_EQ(result.status, 105);
  EXPECT_EQ(result.err, kParseFailure);
  EXPECT_EQ(worker.released, 1u);
}

}  // namespace
}  // namespace korv::test
