// Every parser test file of JSONTestSuite (y_: must parse, n_: must not, i_: either) as the import
// file of both import commands and as the body of a success answer to each of the six requests:
// each run gives the normal result, or status 4 with one line on standard error and nothing
// printed; it never crashes or hangs, and gives back every token it obtained.
#include <dirent.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include <nlohmann/json.hpp>

#include "tests/support/cli_test.h"

namespace korv::test {
namespace {

constexpr char kParseFailure[] = "Failed to parse the response from the KORV Server.\n";

struct SuiteFile {
  std::string name;
  std::string content;
};

const std::vector<SuiteFile>& suiteFiles() {
  static const std::vector<SuiteFile> files = [] {
    const std::string dir = std::string(KORV_TEST_DATA) + "/JSONTestSuite/test_parsing";
    std::vector<SuiteFile> found;
    if (DIR* stream = ::opendir(dir.c_str())) {
      while (const dirent* entry = ::readdir(stream)) {
        const std::string name = entry->d_name;
        if (name.size() > 5 && name.compare(name.size() - 5, 5, ".json") == 0) {
          found.push_back({name, ReadFile(dir + "/" + name)});
        }
      }
      ::closedir(stream);
    }
    // And one of our own: the JSON library stops at a NUL byte, and in no suite file does a NUL
    // byte alone spoil a list.
    found.push_back({"n_empty_list_then_nul.json", std::string("[]\0]", 4)});
    return found;
  }();
  return files;
}

// The text as the client writes a JSON document, compact with sorted keys; nothing when the text
// is not one JSON value (a NUL byte has no place in one).
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

// What a run must give: the result printed with status 0 and nothing on standard error; or, when
// there is none, status 4, one of the failure lines on standard error and nothing printed.
struct Expected {
  std::optional<std::string> printed;
  std::vector<std::string> failures{kParseFailure};
};

// A scripted server and directories of its own for each thread, so that runs on different threads
// share neither answers nor logs.
class Worker {
 public:
  StubServer server;
  TempDir home;
  TempDir files;

  Worker() { server.ServeSession(); }

  // Runs a subcommand against the server; returns what was wrong with the run, "" when nothing.
  std::string Run(const std::vector<std::string>& args, const Expected& expected) {
    ProcessOptions options;
    options.args = {"-p", server.BaseUrl(), "-u", "admin"};
    options.args.insert(options.args.end(), args.begin(), args.end());
    options.environment = {"HOME=" + home.Path(), "PATH=/usr/bin:/bin", "KORV_API_PASSWORD=secret"};
    for (const auto& entry : InheritedSanitizerEnvironment()) {
      options.environment.push_back(entry);
    }
    const ProcessResult result = test::Run(KORV_CLI_PATH, options, std::chrono::seconds(30));
    const auto requests = server.Requests();
    long kept = 0;  // tokens obtained and not given back
    for (size_t i = seen; i < requests.size(); ++i) {
      if (requests[i].path == "/api/token/") {
        kept += requests[i].method == "POST" ? 1 : requests[i].method == "DELETE" ? -1 : 0;
      }
    }
    seen = requests.size();
    std::string found = kept == 0 ? "" : " " + std::to_string(kept) + " token(s) kept;";
    if (result.timedOut || result.signaled) {
      return found + (result.timedOut ? " hung;" : " crashed;");
    }
    const auto& failures = expected.failures;
    if (expected.printed
            ? result.status != 0 || !result.err.empty() || result.out != *expected.printed
            : result.status != 4 || !result.out.empty() ||
                  std::find(failures.begin(), failures.end(), result.err) == failures.end()) {
      found += " status " + std::to_string(result.status) + ", printed '" +
               result.out.substr(0, 80) + "', said '" + result.err + "';";
    }
    return found;
  }

 private:
  size_t seen = 0;  // requests of earlier runs
};

// The commands and requests of one kind of record.
struct Kind {
  const char* name;
  const char* noun;  // of the commands
  const char* listPath;
  const char* exportPath;
  const char* importPath;
  const char* itemsKey;       // the import file's member holding the records
  const char* notJson;        // the import file does not start with a JSON value
  const char* notImportable;  // after "Input file '<path>"
};

const Kind kProbes{"Probes",
                   "probes",
                   "/api/v11/probe/",
                   "/api/v11/probe/custom/export/",
                   "/api/v11/probe/custom/import/",
                   "probes",
                   "Input file is not a valid probe file.\n",
                   "' does not contain valid formatted data for importing the probes.\n"};
const Kind kAlertTemplates{
    "AlertTemplates",
    "alert-templates",
    "/api/v11/alert/template/",
    "/api/v11/alert/custom/export/",
    "/api/v11/alert/custom/import/",
    "alert_templates",
    "Input file is not a valid alert template file.\n",
    "' does not contain valid formatted data for importing the alert templates.\n"};

// Each test runs once per kind of record, as tests of their own that ctest runs side by side.
class EverySuiteFile : public ::testing::TestWithParam<const Kind*> {
 protected:
  const Kind& kind = *GetParam();

  std::string Command(const char* verb) const { return std::string(verb) + "-" + kind.noun; }

  // Runs check, which scripts the server and runs the client, for every file, spread over a few
  // threads; expects no file's run to be wrong.
  static void ExpectSound(const std::function<std::string(Worker&, const SuiteFile&)>& check) {
    const auto& files = suiteFiles();
    ASSERT_EQ(files.size(), 319u);  // the suite's and ours
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
    EXPECT_THAT(problems, ::testing::IsEmpty());
  }
};
INSTANTIATE_TEST_SUITE_P(Each, EverySuiteFile, ::testing::Values(&kProbes, &kAlertTemplates),
                         [](const auto& info) { return std::string(info.param->name); });

TEST_P(EverySuiteFile, AsAnImportFileIsRefusedWithOneLine) {
  ExpectSound([this](Worker& worker, const SuiteFile& file) {
    const std::string path = worker.files / file.name;
    WriteFile(path, file.content);
    // None holds both the records and "version", so none can be imported. A y_ file must be
    // read whole as one JSON value.
    Expected refused{std::nullopt, {"Input file '" + path + kind.notImportable}};
    if (file.name[0] != 'y') {
      refused.failures.push_back(kind.notJson);
    }
    return worker.Run({Command("import"), "-i", path}, refused);
  });
}

TEST_P(EverySuiteFile, AsAListAnswerIsPrintedWhenEmptyAndOtherwiseReportedAsUnparsable) {
  ExpectSound([this](Worker& worker, const SuiteFile& file) {
    worker.server.On("GET", kind.listPath, Reply(200, file.content));
    // None is a list of records, so the empty list is the only list there can be.
    const bool empty = reserialised(file.content) == "[]";
    return worker.Run({Command("list"), "-c", "all"},
                      {empty ? std::optional<std::string>("[]\n") : std::nullopt});
  });
}

TEST_P(EverySuiteFile, AsTheItemsOfAnExportAnswerIsWrittenCompactAndSortedOrReportedAsUnparsable) {
  ExpectSound([this](Worker& worker, const SuiteFile& file) {
    // Alone, none is an export.
    const std::string answer =
        std::string(R"({"version":1,")") + kind.itemsKey + R"(":[)" + file.content + "]}";
    worker.server.On("POST", kind.exportPath, Reply(200, answer));
    const auto written = reserialised(answer);
    // A y_ file must be written, an n_ file refused.
    const bool json = reserialised(file.content).has_value();
    const std::string verdict = file.name[0] == (json ? 'n' : 'y') ? " verdict broken;" : "";
    return verdict + worker.Run({Command("export"), "-i", "1"}, {written});
  });
}

TEST_P(EverySuiteFile, AsAnImportAnswerIsReportedAsUnparsable) {
  ExpectSound([this](Worker& worker, const SuiteFile& file) {
    // None has a "result" member, so none is an import verdict.
    worker.server.On("POST", kind.importPath, Reply(200, file.content));
    const std::string path = worker.files / "import.json";
    WriteFile(path, std::string(R"({")") + kind.itemsKey + R"(":[],"version":1})");
    return worker.Run({Command("import"), "-i", path}, {});
  });
}

}  // namespace
}  // namespace korv::test
