// The probe subcommands against a scripted server: what they send, print and report.
#include <dirent.h>
#include <sys/stat.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/cli_test.h"

namespace korv::test {
namespace {

using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::Not;
using ::testing::StartsWith;

constexpr char kParseFailure[] = "Failed to parse the response from the KORV Server.\n";

// A probe as the server lists it.
std::string serverProbe(int id, const std::string& name, bool enabled, bool system) {
  return R"({"discard_history":false,"enabled":)" + std::string(enabled ? "true" : "false") +
         R"(,"id":)" + std::to_string(id) + R"(,"internal_name":")" + name +
         R"(_int","interval":60,"is_system_probe":)" + (system ? "true" : "false") +
         R"(,"level":"server","lifetime":30,"name":")" + name + R"(","platform":"linux"})";
}

// The same probe as the client prints it.
std::string printedProbe(int id, const std::string& name, bool system) {
  return R"({"id":)" + std::to_string(id) + R"(,"name":")" + name + R"(","internal_name":")" +
         name + R"(_int","level":"server","platform":"linux","enabled":true,"interval":60,)" +
         R"("lifetime":30,"discard_history":false,"is_system_probe":)" +
         (system ? "true" : "false") + "}";
}

// Names of the entries of a directory.
std::vector<std::string> entries(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* stream = ::opendir(dir.c_str())) {
    while (const dirent* entry = ::readdir(stream)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") {
        names.push_back(name);
      }
    }
    ::closedir(stream);
  }
  std::sort(names.begin(), names.end());
  return names;
}

class ProbeCommand : public CliTest {
 protected:
  void SetUp() override { server.ServeSession(); }

  // The run released the token it obtained, once.
  void ExpectTokenReleased() {
    const auto releases = server.RequestsTo("DELETE", "/api/token/");
    ASSERT_EQ(releases.size(), 1u);
    EXPECT_EQ(releases[0].Header("X-Auth-Token"), "tok-123");
  }
  // Nothing but, at most, a login was sent.
  void ExpectNoRequest() {
    EXPECT_TRUE(server.RequestsTo("GET", "/api/v11/probe/").empty());
    for (const auto& request : server.Requests()) {
      EXPECT_THAT(request.path, StartsWith("/api/token/")) << request.path;
    }
  }

  StubServer server;
};

class ListProbes : public ProbeCommand {
 protected:
  void Answer(int status, const std::string& body) {
    server.On("GET", "/api/v11/probe/", Reply(status, body));
  }
  void AnswerProbes() {
    Answer(200, "[" + serverProbe(1, "cpu", true, false) + "," +
                    serverProbe(2, "disk", true, true) + "," +
                    serverProbe(3, "locks", false, false) + "," +
                    serverProbe(4, "waits", true, false) + "," + serverProbe(5, "io", false, true) +
                    "]");
  }
};

TEST_F(ListProbes, PrintsTheEnabledCustomProbesByDefaultOnePerLine) {
  AnswerProbes();
  const ProcessResult result = RunAgainst(server, {"list-probes"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, "[\n" + printedProbe(1, "cpu", false) + ",\n" +
                            printedProbe(4, "waits", false) + "\n]\n");
  const auto requests = server.RequestsTo("GET", "/api/v11/probe/");
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].Header("X-Auth-Token"), "tok-123");
  EXPECT_EQ(requests[0].body, "");
  ExpectTokenReleased();
  EXPECT_THAT(Log(), HasSubstr("------> Executing the subcommand - list-probes"));
}

TEST_F(ListProbes, PrintsTheChosenCategoryWhateverItsSpelling) {
  AnswerProbes();
  const std::string system = "[\n" + printedProbe(2, "disk", true) + "\n]\n";
  const std::string all = "[\n" + printedProbe(1, "cpu", false) + ",\n" +
                          printedProbe(2, "disk", true) + ",\n" + printedProbe(4, "waits", false) +
                          "\n]\n";
  const std::string custom =
      "[\n" + printedProbe(1, "cpu", false) + ",\n" + printedProbe(4, "waits", false) + "\n]\n";
  const std::pair<const char*, std::string> cases[] = {
      {"SYSTEM", system}, {"system", system}, {"0", system}, {"all", all},
      {"2", all},         {"Custom", custom}, {"1", custom}};
  for (const auto& [category, expected] : cases) {
    const ProcessResult result = RunAgainst(server, {"list-probes", "-c", category});
    EXPECT_EQ(result.status, 0) << category;
    EXPECT_EQ(result.out, expected) << category;
  }
}

TEST_F(ListProbes, PrintsAnEmptyArrayWhenNothingIsVisible) {
  Answer(200, "[" + serverProbe(3, "locks", false, false) + "," +
                  serverProbe(5, "io", false, true) + "]");
  EXPECT_EQ(RunAgainst(server, {"list-probes", "--probe-category", "all"}).out, "[]\n");
  Answer(200, "[]");
  EXPECT_EQ(RunAgainst(server, {"list-probes"}).out, "[]\n");
}

TEST_F(ListProbes, RefusesUnknownCategoriesBeforeSendingAnything) {
  for (const char* category : {"3", "user", "-1", ""}) {
    const ProcessResult result = RunAgainst(server, {"list-probes", "-c", category});
    EXPECT_EQ(result.status, 105) << category;
    EXPECT_EQ(result.out, "");
  }
  EXPECT_TRUE(server.Requests().empty());
}

TEST_F(ListProbes, PrintsTheTenKeysInTheirOrderWhateverTheServerSent) {
  Answer(
      200,
      R"([{"zeta":1,"is_system_probe":false,"platform":"windows","enabled":true,)"
      R"("sql":"select 1","lifetime":1.9,"level":"db","interval":true,"internal_name":"n\u00e9",)"
      R"("id":12,"discard_history":true,"name":"\u2603 \"q\""}])");
  const ProcessResult result = RunAgainst(server, {"list-probes"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out,
            "[\n"
            R"({"id":12,"name":"☃ \"q\"","internal_name":"né","level":"db","platform":"windows",)"
            R"("enabled":true,"interval":1,"lifetime":1,"discard_history":true,)"
            R"("is_system_probe":false})"
            "\n]\n");
}

TEST_F(ListProbes, ReportsAFailureStatusWithTheServersText) {
  Answer(404, R"({"errormsg":"No probes here."})");
  ProcessResult result = RunAgainst(server, {"list-probes"});
  EXPECT_EQ(result.status, 4);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "HTTP (Error: 404): No probes here.\n");
  EXPECT_THAT(Log(), HasSubstr("] HTTP (Error: 404): No probes here.\n"));
  ExpectTokenReleased();
}

TEST_F(ListProbes, ReportsABodyThatIsNotJsonAsUnparsableWithoutAPlace) {
  server.On("GET", "/api/v11/probe/", [] {
    Reply html(500, "<html><body>Internal error</body></html>");
    html.contentType = "text/html";
    return html;
  }());
  ProcessResult result = RunAgainst(server, {"list-probes"});
  EXPECT_EQ(result.status, 4);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, kParseFailure);
  EXPECT_THAT(Log(), HasSubstr("] Response Validation ErrorFailed to parse the response"));
  ExpectTokenReleased();

  // The JSON library would take a NUL byte for the end of the text.
  for (const std::string& body :
       std::vector<std::string>{"", "[1e400]", "[] []", std::string("[]\0junk", 7)}) {
    Answer(200, body);
    result = RunAgainst(server, {"list-probes"});
    EXPECT_EQ(result.status, 4) << body;
    EXPECT_EQ(result.err, kParseFailure) << body;
  }
}

TEST_F(ListProbes, TakesOnlyTwoHundredTo299AsSuccess) {
  for (int status : {200, 201, 299}) {
    Answer(status, "[]");
    EXPECT_EQ(RunAgainst(server, {"list-probes"}).status, 0) << status;
  }
  // A 1xx status is never final over HTTP/1.1, so 300 is the nearest failure to test below 200.
  for (int status : {300, 302, 400, 404}) {
    Answer(status, R"({"errormsg":"no"})");
    const ProcessResult result = RunAgainst(server, {"list-probes"});
    EXPECT_EQ(result.status, 4) << status;
    EXPECT_EQ(result.err, "HTTP (Error: " + std::to_string(status) + "): no\n");
  }
}

TEST_F(ListProbes, ReportsAnswersOfTheWrongShapeAsUnparsableAndPrintsNothing) {
  const std::string good = serverProbe(1, "cpu", true, false);
  const std::pair<int, std::string> bodies[] = {
      {200, "{}"},
      {200, R"({"probes":[]})"},
      {200, "[" + good + ",1]"},
      {200, "[" + good + R"(,{"id":2}])"},
      {200, "[" +
                std::string(good).replace(good.find(R"("enabled":true)"), 14, R"("enabled":null)") +
                "]"},
      {200, "[" +
                std::string(good).replace(good.find(R"("enabled":true)"), 14, R"("enabled":1   )") +
                "]"},
      {200,
       "[" + std::string(good).replace(good.find(R"("name":"cpu")"), 12, R"("name":7    )") + "]"},
      {200, "[" + std::string(good).replace(good.find(R"("id":1)"), 6, R"("id":1e99)") + "]"},
      {404, R"({"error":"no errormsg"})"},
      {500, R"({"errormsg":42})"},
      {500, "[]"},
  };
  for (const auto& [status, body] : bodies) {
    Answer(status, body);
    const ProcessResult result = RunAgainst(server, {"list-probes"});
    EXPECT_EQ(result.status, 4) << body;
    EXPECT_EQ(result.out, "") << body;
    EXPECT_EQ(result.err, kParseFailure) << body;
  }
  EXPECT_THAT(Log(), HasSubstr("] Response Validation Error (virtual void "
                               "korv::cli::ListProbes::Perform()@"));
  EXPECT_EQ(server.RequestsTo("DELETE", "/api/token/").size(), std::size(bodies));
}

TEST_F(ListProbes, EndsQuietlyWhenTheServerDoesNotSpeakTheVersion) {
  server.ServeSession("tok-123", {"v10_api"});
  AnswerProbes();
  const ProcessResult result = RunAgainst(server, {"list-probes"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "KORV Server is not compatible with this utility.\n");
  EXPECT_TRUE(server.RequestsTo("GET", "/api/v11/probe/").empty());
  ExpectTokenReleased();
  EXPECT_THAT(Log(), HasSubstr(" WARN  "));
}

TEST_F(ListProbes, ReportsAFailedLoginAsAValidationErrorAndReleasesNothing) {
  server.On("POST", "/api/token/", Reply(401, R"({"errormsg":"bad user"})"));
  const ProcessResult result = RunAgainst(server, {"list-probes"});
  EXPECT_EQ(result.status, 105);
  EXPECT_THAT(result.err, StartsWith("User authentication failed.\n"));
  EXPECT_TRUE(server.RequestsTo("DELETE", "/api/token/").empty());
  EXPECT_THAT(Log(), HasSubstr("] ValidationError: User authentication failed."));
}

TEST_F(ListProbes, ReportsAStandardOutputThatTakesNothingAsAnError) {
  AnswerProbes();
  ProcessOptions full;
  full.stdoutPath = "/dev/full";
  ProcessResult result = RunAgainst(server, {"list-probes"}, full);
  EXPECT_EQ(result.status, 4);
  EXPECT_EQ(result.err, "Failed to write to the standard output.\n");
  ProcessOptions closed;
  closed.closeStdoutEarly = true;
  result = RunAgainst(server, {"list-probes"}, closed);
  EXPECT_EQ(result.status, 4);
  EXPECT_FALSE(result.signaled);
  EXPECT_EQ(result.err, "Failed to write to the standard output.\n");
  EXPECT_EQ(server.RequestsTo("DELETE", "/api/token/").size(), 2u);
}

class ExportProbes : public ProbeCommand {
 protected:
  static constexpr char kAnswer[] =
      R"({"version":"11.0","probes":[{"name":"cpu","id":3,"sql":"select \"x\" ☃","z":1.5e3}]})";
  static constexpr char kWritten[] =
      R"({"probes":[{"id":3,"name":"cpu","sql":"select \"x\" ☃","z":1500.0}],"version":"11.0"})";

  void Answer(int status, const std::string& body) {
    server.On("POST", "/api/v11/probe/custom/export/", Reply(status, body));
  }
  std::vector<ReceivedRequest> Exports() const {
    return server.RequestsTo("POST", "/api/v11/probe/custom/export/");
  }
  // The export target holds what it held before, and nothing else appeared beside it.
  void ExpectUntouched(const std::string& path, const std::string& before) {
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_EQ(entries(home.Path()),
              (std::vector<std::string>{".korv-cli.log", path.substr(path.rfind('/') + 1)}));
  }
};

TEST_F(ExportProbes, SendsTheChosenIdsOnceEachInAscendingOrder) {
  Answer(200, kAnswer);
  ASSERT_EQ(RunAgainst(server, {"export-probes", "-i", "17", "-i", "3", "--probe-id", "17"}).status,
            0);
  ASSERT_EQ(RunAgainst(server, {"export-probes"}).status, 0);
  const auto exports = Exports();
  ASSERT_EQ(exports.size(), 2u);
  EXPECT_EQ(exports[0].body, R"({"probes":[3,17]})");
  EXPECT_EQ(exports[0].Header("Content-Type"), "application/json");
  EXPECT_EQ(exports[1].body, R"({"probes":[]})");
}

TEST_F(ExportProbes, RefusesIdsThatAreNotIntegers) {
  for (const char* id : {"x", "1.5", "3,4", "99999999999"}) {
    EXPECT_EQ(RunAgainst(server, {"export-probes", "-i", id}).status, 104) << id;
  }
  EXPECT_TRUE(server.Requests().empty());
}

TEST_F(ExportProbes, WritesTheAnswerSortedAndCompactWithoutAFinalLineBreak) {
  Answer(200, kAnswer);
  ProcessResult result = RunAgainst(server, {"export-probes"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, kWritten);

  const std::string file = home / "probes.json";
  result = RunAgainst(server, {"export-probes", "-o", file});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(ReadFile(file), kWritten);
  EXPECT_EQ(FileMode(file), 0644);
  EXPECT_EQ(server.RequestsTo("DELETE", "/api/token/").size(), 2u);
}

TEST_F(ExportProbes, KeepsAnExistingFileUnlessToldToOverwriteItWhereverTheFlagStands) {
  Answer(200, kAnswer);
  const std::string file = home / "probes.json";
  WriteFile(file, "earlier", 0640);
  ProcessResult result = RunAgainst(server, {"export-probes", "-o", file});
  EXPECT_EQ(result.status, 4);
  EXPECT_EQ(result.err, "Output file '" + file + "' already exists\n");
  EXPECT_EQ(ReadFile(file), "earlier");
  EXPECT_TRUE(server.Requests().empty());
  EXPECT_THAT(Log(),
              HasSubstr("] FileError (virtual void korv::cli::ExportCustomProbes::Perform()@"));

  for (const auto& args : std::vector<std::vector<std::string>>{
           {"export-probes", "-w", "-o", file}, {"export-probes", "-o", file, "--overwrite"}}) {
    WriteFile(file, "earlier", 0640);
    result = RunAgainst(server, args);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(ReadFile(file), kWritten);
    EXPECT_EQ(FileMode(file), 0640) << "the file kept its permissions";
  }
  ExpectUntouched(file, kWritten);
}

TEST_F(ExportProbes, ReportsATargetThatCannotBeWrittenBeforeContactingTheServer) {
  ProcessResult result = RunAgainst(server, {"export-probes", "-o", home.Path()});
  EXPECT_EQ(result.err, "Output file '" + home.Path() + "' already exists\n");
  result = RunAgainst(server, {"export-probes", "-w", "-o", home.Path()});
  EXPECT_EQ(result.status, 4);
  EXPECT_EQ(result.err, "Failed to open the output file '" + home.Path() + "'\n");
  const std::string missing = home / "no/such/dir/probes.json";
  result = RunAgainst(server, {"export-probes", "-o", missing});
  EXPECT_EQ(result.status, 4);
  EXPECT_EQ(result.err, "Failed to open the output file '" + missing + "'\n");
  EXPECT_TRUE(server.Requests().empty());
}

TEST_F(ExportProbes, ReportsAFailureStatusWithTheServersTextAlone) {
  Answer(400, R"({"errormsg":"Probe 9 is not a custom probe."})");
  const ProcessResult result = RunAgainst(server, {"export-probes", "-i", "9"});
  EXPECT_EQ(result.status, 4);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "Probe 9 is not a custom probe.\n");
  EXPECT_THAT(Log(), HasSubstr("] Response Validation Error (virtual void "
                               "korv::cli::ExportCustomProbes::Perform()@"));
  ExpectTokenReleased();
}

TEST_F(ExportProbes, LeavesTheTargetAsItWasWhenTheExportFails) {
  const std::string file = home / "probes.json";
  const std::pair<int, std::string> failures[] = {
      {400, R"({"errormsg":"no"})"}, {500, "<html>"}, {200, ""}, {500, "{}"}};
  for (const auto& [status, body] : failures) {
    Answer(status, body);
    WriteFile(file, "earlier", 0600);
    EXPECT_EQ(RunAgainst(server, {"export-probes", "-w", "-o", file}).status, 4) << body;
    ExpectUntouched(file, "earlier");

    ::unlink(file.c_str());
    EXPECT_EQ(RunAgainst(server, {"export-probes", "-o", file}).status, 4) << body;
    EXPECT_FALSE(Exists(file)) << body;
  }
  server.ServeSession("tok-123", {"v10_api"});
  WriteFile(file, "earlier", 0600);
  const ProcessResult result = RunAgainst(server, {"export-probes", "-w", "-o", file});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "KORV Server is not compatible with this utility.\n");
  ExpectUntouched(file, "earlier");
}

TEST_F(ExportProbes, ReportsAStandardOutputThatTakesNothingAsAnError) {
  Answer(200, kAnswer);
  ProcessOptions full;
  full.stdoutPath = "/dev/full";
  const ProcessResult result = RunAgainst(server, {"export-probes"}, full);
  EXPECT_EQ(result.status, 4);
  EXPECT_EQ(result.err, "Failed to write to the standard output.\n");
  ExpectTokenReleased();
}

class ImportProbes : public ProbeCommand {
 protected:
  void SetUp() override {
    ProbeCommand::SetUp();
    Answer(200, R"({"result":[]})");
  }
  void Answer(int status, const std::string& body) {
    server.On("POST", "/api/v11/probe/custom/import/", Reply(status, body));
  }
  std::vector<ReceivedRequest> Imports() const {
    return server.RequestsTo("POST", "/api/v11/probe/custom/import/");
  }
  std::string File(const std::string& content) {
    const std::string path = home / "import.json";
    WriteFile(path, content, 0644);
    return path;
  }
};

TEST_F(ImportProbes, RefusesMissingUnreadableAndMalformedFilesBeforeContactingTheServer) {
  const std::string file = home / "import.json";
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"import-probes"}, "Provide the probe input file."},
      {{"import-probes", "-i", file},
       "Probe input file '" + file + "' does not exists, or is not accessible."},
  };
  for (const auto& [args, message] : cases) {
    const ProcessResult result = RunAgainst(server, args);
    EXPECT_EQ(result.status, 4);
    EXPECT_EQ(result.err, message + "\n");
  }
  for (const char* content : {"", "   \n", "hello", "{\"probes\":", "// comment\n{}",
                              "{\"probes\":[1e400],\"version\":1}"}) {
    const ProcessResult result = RunAgainst(server, {"import-probes", "-i", File(content)});
    EXPECT_EQ(result.status, 4) << content;
    EXPECT_EQ(result.err, "Input file is not a valid probe file.\n") << content;
  }
  const std::pair<std::string, std::string> halfFormed[] = {
      {R"([{"probes":[],"version":1}])", "version: false, probes: false"},
      {R"({"probes":[]})", "version: false, probes: true"},
      {R"({"version":"11.0"})", "version: true, probes: false"},
      {R"("probes")", "version: false, probes: false"},
  };
  for (const auto& [content, fields] : halfFormed) {
    const std::string path = File(content);
    const ProcessResult result = RunAgainst(server, {"import-probes", "-i", path});
    EXPECT_EQ(result.status, 4) << content;
    EXPECT_EQ(result.err,
              "Input file '" + path +
                  "' does not contain valid formatted data for importing the probes.\n");
    EXPECT_THAT(Log(), HasSubstr("] Input file '" + path +
                                 "' does not contain the following fields:\n- " + fields + "\n"));
  }
  EXPECT_TRUE(server.Requests().empty());
}

TEST_F(ImportProbes, ReportsAFileItMayNotRead) {
  const std::string file = File(R"({"probes":[],"version":1})");
  ::chmod(file.c_str(), 0600);
  ::chmod(home.Path().c_str(), 0711);
  unprivileged = true;
  const ProcessResult result = RunAgainst(server, {"import-probes", "-i", file});
  EXPECT_EQ(result.status, 4);
  EXPECT_EQ(result.err, "Failed to open the input file '" + file + "'\n");
  EXPECT_TRUE(server.Requests().empty());
}

TEST_F(ImportProbes, SendsTheFilesVersionAndProbesUnchangedBesideTheOverwriteSwitch) {
  const std::string file = File(
      R"( {"version":{"major":11,"b":[1,2]},"other":true,"probes":[{"z":1,"a":"é"}]} trailing text)");
  ASSERT_EQ(RunAgainst(server, {"import-probes", "-i", file}).status, 0);
  ASSERT_EQ(RunAgainst(server, {"import-probes", "--ignore-existing", "--in-file", file}).status,
            0);
  const auto imports = Imports();
  ASSERT_EQ(imports.size(), 2u);
  EXPECT_EQ(
      imports[0].body,
      R"({"probes":[{"a":"é","z":1}],"skip_overwrite":false,"version":{"b":[1,2],"major":11}})");
  EXPECT_EQ(
      imports[1].body,
      R"({"probes":[{"a":"é","z":1}],"skip_overwrite":true,"version":{"b":[1,2],"major":11}})");
  EXPECT_EQ(imports[0].Header("Content-Type"), "application/json");

  for (const char* version : {"null", "7", "\"10.0\""}) {
    const std::string other =
        File(std::string(R"({"probes":"anything","version":)") + version + "}");
    EXPECT_EQ(RunAgainst(server, {"import-probes", "-i", other}).status, 0) << version;
    EXPECT_EQ(
        Imports().back().body,
        std::string(R"({"probes":"anything","skip_overwrite":false,"version":)") + version + "}");
  }
}

TEST_F(ImportProbes, PrintsTheVerdictPerProbeWithTheMessageOrElseTheStatus) {
  Answer(200, R"({"result":[{"name":"cpu","status":"created","msg":"Created with id 31."},)"
              R"({"name":"disk","status":"skipped","msg":null},{"name":"io","status":"failed"}]})");
  const ProcessResult result =
      RunAgainst(server, {"import-probes", "-i", File(R"({"probes":[],"version":1})")});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out,
            "Probe Name, Status, Reason\n"
            "==========, ======, ======\n"
            "cpu, created, Created with id 31.\n"
            "disk, skipped, skipped\n"
            "io, failed, failed\n");
  ExpectTokenReleased();
}

TEST_F(ImportProbes, PrintsNothingForAnEmptyResult) {
  const ProcessResult result =
      RunAgainst(server, {"import-probes", "-i", File(R"({"probes":[],"version":1})")});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
}

TEST_F(ImportProbes, ReportsAFailureStatusAndAnswersOfTheWrongShape) {
  const std::string file = File(R"({"probes":[],"version":1})");
  Answer(400, R"({"errormsg":"Version 1 is not supported."})");
  ProcessResult result = RunAgainst(server, {"import-probes", "-i", file});
  EXPECT_EQ(result.status, 4);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "HTTP (Error: 400): Version 1 is not supported.\n");

  for (const char* body :
       {"", "<html>", "{}", R"({"result":{}})", R"({"errormsg":"status 200 but no result"})"}) {
    Answer(200, body);
    result = RunAgainst(server, {"import-probes", "-i", file});
    EXPECT_EQ(result.status, 4) << body;
    EXPECT_EQ(result.out, "") << body;
    EXPECT_EQ(result.err, kParseFailure) << body;
  }

  // Entries before a faulty one stay printed, the header among them.
  Answer(200, R"({"result":[1]})");
  result = RunAgainst(server, {"import-probes", "-i", file});
  EXPECT_EQ(result.status, 4);
  EXPECT_EQ(result.out, "Probe Name, Status, Reason\n==========, ======, ======\n");
  EXPECT_EQ(result.err, kParseFailure);

  Answer(200, R"({"result":[{"name":"cpu","status":"created"},{"name":"io","status":false}]})");
  result = RunAgainst(server, {"import-probes", "-i", file});
  EXPECT_EQ(result.status, 4);
  EXPECT_EQ(result.out,
            "Probe Name, Status, Reason\n==========, ======, ======\ncpu, created, created\n");
  EXPECT_EQ(result.err, kParseFailure);
  EXPECT_EQ(server.RequestsTo("DELETE", "/api/token/").size(), 8u);
}

TEST_F(ImportProbes, ImportsWhatTheExportWrote) {
  server.On("POST", "/api/v11/probe/custom/export/",
            Reply(200, R"({"version":"11.0","probes":[{"name":"cpu","sql":"select 1"}]})"));
  const std::string file = home / "exported.json";
  ASSERT_EQ(RunAgainst(server, {"export-probes", "-o", file}).status, 0);
  ASSERT_EQ(RunAgainst(server, {"import-probes", "-i", file}).status, 0);
  EXPECT_EQ(
      Imports().at(0).body,
      R"({"probes":[{"name":"cpu","sql":"select 1"}],"skip_overwrite":false,"version":"11.0"})");
}

}  // namespace
}  // namespace korv::test
