// The probe subcommands against a scripted server: what they send, print and report. What they
// share with the alert template subcommands (sending, parsing, the status check, the result
// table, the export destination) is proven here once.
#include <sys/stat.h>

#include <filesystem>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/cli_test.h"

namespace korv::test {
namespace {

using ::testing::HasSubstr;
using ::testing::PrintToString;

constexpr char kParseFailure[] = "Failed to parse the response from the KORV Server.\n";
constexpr char kOutputFailure[] = "Failed to write to the standard output.\n";

// A probe as the server lists it, its keys in alphabetical order and one the client drops.
std::string serverProbe(int id, const std::string& name, bool enabled, bool system) {
  return R"({"discard_history":false,"enabled":)" + std::string(enabled ? "true" : "false") +
         R"(,"id":)" + std::to_string(id) + R"(,"internal_name":")" + name +
         R"(_int","interval":60,"is_system_probe":)" + (system ? "true" : "false") +
         R"(,"level":"server","lifetime":30,"name":")" + name +
         R"(","platform":"linux","sql":"x"})";
}

// The same (enabled) probe as the client prints it.
std::string printedProbe(int id, const std::string& name, bool system) {
  return R"({"id":)" + std::to_string(id) + R"(,"name":")" + name + R"(","internal_name":")" +
         name + R"(_int","level":"server","platform":"linux","enabled":true,"interval":60,)" +
         R"("lifetime":30,"discard_history":false,"is_system_probe":)" +
         (system ? "true" : "false") + "}";
}

class ProbeCommand : public CliTest {
 protected:
  void SetUp() override { server.ServeSession(); }

  size_t Releases() const { return server.RequestsTo("DELETE", "/api/token/").size(); }
  // The run ends with the status and the message alone on standard error, having printed what is
  // given. Refused, it sent nothing; else it released the token it obtained.
  void ExpectError(const std::vector<std::string>& args, const std::string& err,
                   const std::string& out = "", bool refused = false) {
    const size_t sent = server.Requests().size(), released = Releases();
    const ProcessResult result = RunAgainst(server, args);
    EXPECT_EQ(result.status, 4) << PrintToString(args);
    EXPECT_EQ(result.err, err) << PrintToString(args);
    EXPECT_EQ(result.out, out) << PrintToString(args);
    if (refused) {
      EXPECT_EQ(server.Requests().size(), sent) << PrintToString(args);
    } else {
      EXPECT_EQ(Releases(), released + 1) << PrintToString(args);
    }
  }
  void ExpectRefusal(const std::vector<std::string>& args, const std::string& err) {
    ExpectError(args, err, "", true);
  }

  StubServer server;
};

// What every probe subcommand prints goes through a check of standard output.
using ProbesSubcommands = ProbeCommand;

TEST_F(ProbesSubcommands, ReportAStandardOutputThatTakesNothingAsAnError) {
  server.On("GET", "/api/v11/probe/", Reply(200, "[" + serverProbe(1, "cpu", true, false) + "]"));
  server.On("POST", "/api/v11/probe/custom/export/", Reply(200, R"({"probes":[],"version":1})"));
  server.On("POST", "/api/v11/probe/custom/import/",
            Reply(200, R"({"result":[{"name":"cpu","status":"created"}]})"));
  const std::string file = home / "import.json";
  WriteFile(file, R"({"probes":[],"version":1})", 0644);
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"list-probes"}, {"export-probes"}, {"import-probes", "-i", file}}) {
    for (const bool closed : {false, true}) {
      ProcessOptions options;
      options.stdoutPath = closed ? "" : "/dev/full";
      options.closeStdoutEarly = closed;
      const ProcessResult result = RunAgainst(server, args, options);
      EXPECT_EQ(result.status, 4) << args[0] << (closed ? " closed" : " full");
      EXPECT_EQ(result.err, kOutputFailure) << args[0] << (closed ? " closed" : " full");
    }
  }
  EXPECT_EQ(Releases(), 6u);
}

using ListProbes = ProbeCommand;

TEST_F(ListProbes, PrintsTheEnabledProbesOfTheChosenCategoryOnePerLineWithTheirKeysInOrder) {
  for (const char* category : {"3", "user", "-1", ""}) {
    EXPECT_EQ(RunAgainst(server, {"list-probes", "-c", category}).status, 105) << category;
  }
  const std::string five =
      "[" + serverProbe(1, "cpu", true, false) + "," + serverProbe(2, "disk", true, true) + "," +
      serverProbe(3, "locks", false, false) + "," + serverProbe(4, "waits", true, false) + "," +
      serverProbe(5, "io", false, true) + "]";
  const std::string cpu = printedProbe(1, "cpu", false), disk = printedProbe(2, "disk", true),
                    waits = printedProbe(4, "waits", false);
  const std::string custom = "[\n" + cpu + ",\n" + waits + "\n]\n";
  const std::string system = "[\n" + disk + "\n]\n";
  const std::string all = "[\n" + cpu + ",\n" + disk + ",\n" + waits + "\n]\n";
  server.On("GET", "/api/v11/probe/", Reply(200, five));
  // The category given (none for the default) and what is printed.
  const std::pair<const char*, std::string> cases[] = {
      {nullptr, custom}, {"Custom", custom}, {"1", custom}, {"SYSTEM", system},
      {"0", system},     {"all", all},       {"2", all}};
  for (const auto& [category, printed] : cases) {
    const ProcessResult result =
        RunAgainst(server, category ? std::vector<std::string>{"list-probes", "-c", category}
                                    : std::vector<std::string>{"list-probes"});
    EXPECT_EQ(result.status, 0) << (category ? category : "default") << result.err;
    EXPECT_EQ(result.out, printed) << (category ? category : "default");
  }
  for (const std::string& answer :
       {std::string("[]"), "[" + serverProbe(3, "locks", false, false) + "]"}) {
    server.On("GET", "/api/v11/probe/", Reply(200, answer));
    EXPECT_EQ(RunAgainst(server, {"list-probes", "--probe-category", "all"}).out, "[]\n") << answer;
  }
  const auto lists = server.RequestsTo("GET", "/api/v11/probe/");
  ASSERT_EQ(lists.size(), std::size(cases) + 2) << "nothing sent for an unknown category";
  EXPECT_EQ(lists[0].Header("X-Auth-Token"), "tok-123");
  EXPECT_EQ(Releases(), lists.size());
}

TEST_F(ListProbes, TakesOnly200To299AsSuccessAndReportsEveryOtherAnswerOnOneLine) {
  for (int status : {200, 201, 299}) {
    server.On("GET", "/api/v11/probe/", Reply(status, "[]"));
    EXPECT_EQ(RunAgainst(server, {"list-probes"}).status, 0) << status;
  }
  // A 1xx status is never final over HTTP/1.1, so 300 is the nearest failure below 200.
  for (const auto& [status, text] : {std::pair(300, "moved"), std::pair(404, "No probes here.")}) {
    server.On("GET", "/api/v11/probe/",
              Reply(status, std::string(R"({"errormsg":")") + text + R"("})"));
    ExpectError({"list-probes"}, "HTTP (Error: " + std::to_string(status) + "): " + text + "\n");
  }
  std::string nullEnabled = serverProbe(1, "cpu", true, false);
  nullEnabled.replace(nullEnabled.find("true"), 4, "null");
  // Failure answers without a text "errormsg", and success answers that are no list of probes
  // (the JSON library would take a NUL byte for the end of the text).
  const std::pair<int, std::vector<std::string>> unparsable[] = {
      {500,
       {"<html><body>Internal error</body></html>", R"({"error":"no errormsg"})",
        R"({"errormsg":42})", "[]"}},
      {200,
       {std::string("[]\0junk", 7), "", R"({"probes":[]})", "[" + nullEnabled + "]",
        "[" + serverProbe(1, "cpu", true, false) + R"(,{"id":2}])"}}};
  for (const auto& [status, bodies] : unparsable) {
    for (const std::string& body : bodies) {
      server.On("GET", "/api/v11/probe/", Reply(status, body));
      SCOPED_TRACE(std::to_string(status) + " " + body);
      ExpectError({"list-probes"}, kParseFailure);
    }
  }
  EXPECT_THAT(Log(), HasSubstr("] Response Validation Error (virtual void "
                               "korv::cli::ListProbes::Perform()@"));
}

class ExportProbes : public ProbeCommand {
 protected:
  static constexpr char kAnswer[] =
      R"({"version":"11.0","probes":[{"name":"cpu","id":3,"sql":"select \"x\" ☃","z":1.5e3}]})";
  static constexpr char kWritten[] =
      R"({"probes":[{"id":3,"name":"cpu","sql":"select \"x\" ☃","z":1500.0}],"version":"11.0"})";

  void SetUp() override {
    ProbeCommand::SetUp();
    Answer(200, kAnswer);
  }
  void Answer(int status, const std::string& body) {
    server.On("POST", "/api/v11/probe/custom/export/", Reply(status, body));
  }
  // The export target holds what is given, and nothing appeared beside it.
  void ExpectUntouched(const std::string& content) {
    EXPECT_EQ(ReadFile(file), content);
    EXPECT_EQ(Entries(home.Path()), (std::vector<std::string>{".korv-cli.log", "probes.json"}));
  }

  const std::string file = home / "probes.json";
};

TEST_F(ExportProbes, SendsTheChosenIdsOnceEachInAscendingOrder) {
  ASSERT_EQ(RunAgainst(server, {"export-probes", "-i", "17", "-i", "3", "--probe-id", "17"}).status,
            0);
  ASSERT_EQ(RunAgainst(server, {"export-probes"}).status, 0);
  const auto exports = server.RequestsTo("POST", "/api/v11/probe/custom/export/");
  ASSERT_EQ(exports.size(), 2u);
  EXPECT_EQ(exports[0].body, R"({"probes":[3,17]})");
  EXPECT_EQ(exports[0].Header("Content-Type"), "application/json");
  EXPECT_EQ(exports[1].body, R"({"probes":[]})");
}

TEST_F(ExportProbes, RefusesATargetItMayNotWriteBeforeContactingTheServer) {
  WriteFile(file, "earlier");
  const std::string missing = home / "no/such/dir/probes.json";
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"export-probes", "-o", file}, "Output file '" + file + "' already exists\n"},
      {{"export-probes", "-o", home.Path()}, "Output file '" + home.Path() + "' already exists\n"},
      {{"export-probes", "-w", "-o", home.Path()},
       "Failed to open the output file '" + home.Path() + "'\n"},
      {{"export-probes", "-o", missing}, "Failed to open the output file '" + missing + "'\n"}};
  for (const auto& [args, err] : cases) {
    ExpectRefusal(args, err);
  }
  ExpectUntouched("earlier");
  EXPECT_THAT(Log(),
              HasSubstr("] FileError (virtual void korv::cli::ExportCustomProbes::Perform()@"));
}

TEST_F(ExportProbes, WritesTheAnswerSortedAndCompactReplacingAFileOnlyWithTheFlag) {
  ProcessResult result = RunAgainst(server, {"export-probes"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, kWritten);
  result = RunAgainst(server, {"export-probes", "-o", file});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(FileMode(file), 0644);
  ExpectUntouched(kWritten);
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"export-probes", "-w", "-o", file}, {"export-probes", "-o", file, "--overwrite"}}) {
    WriteFile(file, "earlier", 0640);
    result = RunAgainst(server, args);
    EXPECT_EQ(result.status, 0) << PrintToString(args) << result.err;
    EXPECT_EQ(FileMode(file), 0640) << "the file kept its permissions";
    ExpectUntouched(kWritten);
  }
}

TEST_F(ExportProbes, ReplacesAWritableTargetInADirectoryWhereItCannotMakeATemporaryFile) {
  const std::string dir = home / "shared";
  ASSERT_EQ(::mkdir(dir.c_str(), 0755), 0);
  const std::string target = dir + "/probes.json";
  WriteFile(target, "earlier", 0666);
  ::chmod(home.Path().c_str(), 0711);
  unprivileged = true;  // may write the file, not the directory
  const ProcessResult result = RunAgainst(server, {"export-probes", "-w", "-o", target});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(ReadFile(target), kWritten);
  EXPECT_EQ(Entries(dir), std::vector<std::string>{"probes.json"});
}

TEST_F(ExportProbes, ReportsAFailureWithTheServersTextAloneAndLeavesTheTargetAsItWas) {
  const std::pair<int, std::string> failures[] = {
      {400, R"({"errormsg":"Probe 9 is not a custom probe."})"},
      {500, "<html>"},
      {200, ""},
      {500, "{}"}};
  for (const auto& [status, body] : failures) {
    Answer(status, body);
    SCOPED_TRACE(body);
    const std::string err = status == 400 ? "Probe 9 is not a custom probe.\n" : kParseFailure;
    WriteFile(file, "earlier");
    ExpectError({"export-probes", "-w", "-o", file}, err);
    ExpectUntouched("earlier");
    std::filesystem::remove(file);
    ExpectError({"export-probes", "-o", file}, err);
    EXPECT_EQ(Entries(home.Path()), std::vector<std::string>{".korv-cli.log"});
  }
  server.ServeSession("tok-123", {"v10_api"});
  WriteFile(file, "earlier");
  const ProcessResult result = RunAgainst(server, {"export-probes", "-w", "-o", file});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "KORV Server is not compatible with this utility.\n");
  EXPECT_EQ(server.RequestsTo("POST", "/api/v11/probe/custom/export/").size(),
            2 * std::size(failures));
  ExpectUntouched("earlier");
}

class ImportProbes : public ProbeCommand {
 protected:
  void Answer(int status, const std::string& body) {
    server.On("POST", "/api/v11/probe/custom/import/", Reply(status, body));
  }
  // The import file with the content.
  std::string File(const std::string& content) {
    WriteFile(file, content, 0644);
    return file;
  }

  const std::string file = home / "import.json";
};

TEST_F(ImportProbes, RefusesMissingUnreadableAndMalformedFilesBeforeSendingAnything) {
  ExpectRefusal({"import-probes"}, "Provide the probe input file.\n");
  ExpectRefusal({"import-probes", "-i", file},
                "Probe input file '" + file + "' does not exists, or is not accessible.\n");
  for (const char* content : {"", "   \n", "hello", "{\"probes\":", "{\"probes\":[1e400]}"}) {
    ExpectRefusal({"import-probes", "-i", File(content)},
                  "Input file is not a valid probe file.\n");
  }
  const std::pair<std::string, std::string> halfFormed[] = {
      {R"([{"probes":[],"version":1}])", "version: false, probes: false"},
      {R"({"probes":[]})", "version: false, probes: true"},
      {R"({"version":"11.0"})", "version: true, probes: false"}};
  for (const auto& [content, fields] : halfFormed) {
    ExpectRefusal({"import-probes", "-i", File(content)},
                  "Input file '" + file +
                      "' does not contain valid formatted data for importing the probes.\n");
    EXPECT_THAT(Log(), HasSubstr("] Input file '" + file +
                                 "' does not contain the following fields:\n- " + fields + "\n"));
  }
  ::chmod(File(R"({"probes":[],"version":1})").c_str(), 0600);
  ::chmod(home.Path().c_str(), 0711);
  ::unlink(LogPath().c_str());  // root's log would be refused with a warning
  unprivileged = true;
  ExpectRefusal({"import-probes", "-i", file}, "Failed to open the input file '" + file + "'\n");
}

TEST_F(ImportProbes, SendsTheFileBesideTheOverwriteSwitchAndPrintsTheVerdictPerProbe) {
  File(R"( {"version":{"major":11,"b":[1,2]},"other":1,"probes":[{"z":1,"a":"é"}]} )");
  // Without "msg" (or with a null one) the status is the reason; an empty result prints nothing.
  const std::string verdicts =
      R"({"result":[{"name":"cpu","status":"created","msg":"Created with id 31."},)"
      R"({"name":"disk","status":"skipped","msg":null},{"name":"io","status":"failed"}]})";
  const std::string printed =
      "Probe Name, Status, Reason\n==========, ======, ======\ncpu, created, Created with id 31.\n"
      "disk, skipped, skipped\nio, failed, failed\n";
  for (const bool ignore : {false, true}) {
    Answer(200, ignore ? R"({"result":[]})" : verdicts);
    std::vector<std::string> args = {"import-probes", "--in-file", file};
    if (ignore) {
      args.push_back("--ignore-existing");
    }
    const ProcessResult result = RunAgainst(server, args);
    EXPECT_EQ(result.status, 0) << ignore << result.err;
    EXPECT_EQ(result.out, ignore ? "" : printed);
    const auto import = server.RequestsTo("POST", "/api/v11/probe/custom/import/").at(ignore);
    EXPECT_EQ(import.body, std::string(R"({"probes":[{"a":"é","z":1}],"skip_overwrite":)") +
                               (ignore ? "true" : "false") +
                               R"(,"version":{"b":[1,2],"major":11}})");
  }
}

TEST_F(ImportProbes, ReportsAFailureStatusAndAnswersOfTheWrongShapeKeepingWhatWasPrinted) {
  File(R"({"probes":[],"version":1})");
  const std::string header = "Probe Name, Status, Reason\n==========, ======, ======\n";
  // The status and body of the answer, what was printed before the error, and the error.
  const std::tuple<int, std::string, std::string, std::string> answers[] = {
      {400, R"({"errormsg":"Version 1 is not supported."})", "",
       "HTTP (Error: 400): Version 1 is not supported.\n"},
      {200, "<html>", "", kParseFailure},
      {200, R"({"result":{}})", "", kParseFailure},
      {200, R"({"errormsg":"status 200 but no result"})", "", kParseFailure},
      {200, R"({"result":[1]})", header, kParseFailure},
      {200, R"({"result":[{"name":"cpu","status":"created"},{"name":"io","status":false}]})",
       header + "cpu, created, created\n", kParseFailure}};
  for (const auto& [status, body, out, err] : answers) {
    Answer(status, body);
    SCOPED_TRACE(body);
    ExpectError({"import-probes", "-i", file}, err, out);
  }
}

}  // namespace
}  // namespace korv::test
