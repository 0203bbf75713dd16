// The alert template subcommands against a scripted server: what they send, print and report.
// What they share with the probe subcommands (the safe export file, standard output that takes
// nothing, unreadable import files) is proven by the probe tests; here a representative check of
// it, and what differs.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/cli_test.h"

namespace korv::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

constexpr char kParseFailure[] = "Failed to parse the response from the KORV Server.\n";

// An alert template as the server lists it.
std::string serverTemplate(int id, const std::string& name, bool system) {
  return R"({"default_check_frequency":5,"default_history_retention":30,"description":"about )" +
         name + R"(","high_threshold_value":"90","id":)" + std::to_string(id) +
         R"(,"info_sql":"","is_auto_create":false,"is_system_template":)" +
         (system ? "true" : "false") +
         R"(,"low_threshold_value":"50","medium_threshold_value":"75","name":")" + name +
         R"(","object_type":"server","operator":">","probe_dependency_list":["cpu"]})";
}

// The same template as the client prints it.
std::string printedTemplate(int id, const std::string& name, bool system) {
  return R"({"id":)" + std::to_string(id) + R"(,"name":")" + name +
         R"(","object_type":"server","server_type":"","auto_create":false,)" +
         R"("is_system_template":)" + (system ? "true" : "false") +
         R"(,"show_details":false,"probe_depenencies":["cpu"],"check_frequency":5,)" +
         R"("history_retention":30,"threshold":{"operator":">","low":"50","medium":"75",)" +
         R"("high":"90"}})";
}

class AlertTemplateCommand : public CliTest {
 protected:
  void SetUp() override { server.ServeSession(); }

  // The run released the token it obtained, once.
  void ExpectTokenReleased() {
    const auto releases = server.RequestsTo("DELETE", "/api/token/");
    ASSERT_EQ(releases.size(), 1u);
    EXPECT_EQ(releases[0].Header("X-Auth-Token"), "tok-123");
  }

  StubServer server;
};

class ListAlertTemplates : public AlertTemplateCommand {
 protected:
  void Answer(int status, const std::string& body) {
    server.On("GET", "/api/v11/alert/template/", Reply(status, body));
  }
  // Two custom templates around a system one; the second custom one carries an "enabled" member,
  // which the listing has no filter for.
  void AnswerTemplates() {
    std::string disabled = serverTemplate(4, "waits", false);
    disabled.insert(1, R"("enabled":false,)");
    Answer(200, "[" + serverTemplate(1, "cpu", false) + "," + serverTemplate(2, "disk", true) +
                    "," + disabled + "]");
  }
};

TEST_F(ListAlertTemplates, PrintsTheCustomTemplatesByDefaultOnePerLine) {
  AnswerTemplates();
  const ProcessResult result = RunAgainst(server, {"list-alert-templates"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, "[\n" + printedTemplate(1, "cpu", false) + ",\n" +
                            printedTemplate(4, "waits", false) + "\n]\n");
  const auto requests = server.RequestsTo("GET", "/api/v11/alert/template/");
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].Header("X-Auth-Token"), "tok-123");
  EXPECT_EQ(requests[0].body, "");
  ExpectTokenReleased();
  EXPECT_THAT(Log(), HasSubstr("------> Executing the subcommand - list-alert-templates"));
}

TEST_F(ListAlertTemplates, PrintsTheChosenCategoryWhateverItsSpelling) {
  AnswerTemplates();
  const std::string system = "[\n" + printedTemplate(2, "disk", true) + "\n]\n";
  const std::string all = "[\n" + printedTemplate(1, "cpu", false) + ",\n" +
                          printedTemplate(2, "disk", true) + ",\n" +
                          printedTemplate(4, "waits", false) + "\n]\n";
  const std::string custom = "[\n" + printedTemplate(1, "cpu", false) + ",\n" +
                             printedTemplate(4, "waits", false) + "\n]\n";
  const std::pair<const char*, std::string> cases[] = {
      {"SYSTEM", system}, {"system", system}, {"0", system},      {"all", all},
      {"ALL", all},       {"2", all},         {"Custom", custom}, {"1", custom}};
  for (const auto& [category, expected] : cases) {
    const ProcessResult result = RunAgainst(server, {"list-alert-templates", "-c", category});
    EXPECT_EQ(result.status, 0) << category;
    EXPECT_EQ(result.out, expected) << category;
  }
  EXPECT_EQ(RunAgainst(server, {"list-alert-templates", "--alert-template-category", "system"}).out,
            system);
}

TEST_F(ListAlertTemplates, PrintsAnEmptyArrayWhenNothingIsVisible) {
  Answer(200, "[" + serverTemplate(2, "disk", true) + "]");
  EXPECT_EQ(RunAgainst(server, {"list-alert-templates"}).out, "[]\n");
  Answer(200, "[]");
  EXPECT_EQ(RunAgainst(server, {"list-alert-templates", "-c", "all"}).out, "[]\n");
}

TEST_F(ListAlertTemplates, RefusesUnknownCategoriesBeforeSendingAnything) {
  for (const char* category : {"3", "user", "-1", "", "enabled"}) {
    const ProcessResult result = RunAgainst(server, {"list-alert-templates", "-c", category});
    EXPECT_EQ(result.status, 105) << category;
    EXPECT_EQ(result.out, "");
  }
  EXPECT_TRUE(server.Requests().empty());
}

TEST_F(ListAlertTemplates, PrintsTheShortKeysInTheirOrderInsteadOfWhatTheServerSent) {
  Answer(200,
         R"([{"zeta":1,"unit":"%","server_type":"pg","operator":"<","medium_threshold_value":null,)"
         R"("low_threshold_value":"","high_threshold_value":"3","info_sql":"select 1",)"
         R"("probe_dependency_list":["a","b"],"object_type":"database","name":"n\u00e9 \"q\"",)"
         R"("is_system_template":false,"is_auto_create":true,"id":12,"description":"hidden",)"
         R"("default_history_retention":7.9,"default_check_frequency":true},)"
         R"({"default_check_frequency":1,"default_history_retention":2,"description":"",)"
         R"("id":13,"info_sql":null,"is_auto_create":false,"is_system_template":false,)"
         R"("name":"bare","object_type":"server","probe_dependency_list":[]}])");
  const ProcessResult result = RunAgainst(server, {"list-alert-templates"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out,
            "[\n"
            R"({"id":12,"name":"né \"q\"","object_type":"database","server_type":"",)"
            R"("auto_create":true,"is_system_template":false,"show_details":true,)"
            R"("probe_depenencies":["a","b"],"check_frequency":1,"history_retention":7,)"
            R"("threshold":{"operator":"<","low":"","medium":null,"high":"3"}},)"
            "\n"
            R"({"id":13,"name":"bare","object_type":"server","server_type":"",)"
            R"("auto_create":false,"is_system_template":false,"show_details":false,)"
            R"("probe_depenencies":[],"check_frequency":1,"history_retention":2,)"
            R"("threshold":{"operator":"","low":null,"medium":null,"high":null}})"
            "\n]\n");
}

TEST_F(ListAlertTemplates, ReportsAFailureStatusWithTheServersText) {
  Answer(404, R"({"errormsg":"No templates here."})");
  ProcessResult result = RunAgainst(server, {"list-alert-templates"});
  EXPECT_EQ(result.status, 4);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "HTTP (Error: 404): No templates here.\n");
  EXPECT_THAT(Log(), HasSubstr("] HTTP (Error: 404): No templates here.\n"));
  ExpectTokenReleased();

  Answer(300, R"({"errormsg":"moved"})");
  EXPECT_EQ(RunAgainst(server, {"list-alert-templates"}).err, "HTTP (Error: 300): moved\n");
  Answer(299, "[]");
  EXPECT_EQ(RunAgainst(server, {"list-alert-templates"}).out, "[]\n");
}

TEST_F(ListAlertTemplates, ReportsABodyThatIsNotJsonAsUnparsableWithoutAPlace) {
  Reply html(500, "<html><body>Internal error</body></html>");
  html.contentType = "text/html";
  server.On("GET", "/api/v11/alert/template/", html);
  const ProcessResult result = RunAgainst(server, {"list-alert-templates"});
  EXPECT_EQ(result.status, 4);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, kParseFailure);
  EXPECT_THAT(Log(), HasSubstr("] Response Validation ErrorFailed to parse the response"));
  ExpectTokenReleased();
}

TEST_F(ListAlertTemplates, ReportsTemplatesOfTheWrongShapeAsUnparsableAndPrintsNothing) {
  const std::string good = serverTemplate(1, "cpu", false);
  // The good template with one member's text replaced.
  const auto with = [&good](const std::string& member, const std::string& replacement) {
    return "[" + good + "," +
           std::string(good).replace(good.find(member), member.size(), replacement) + "]";
  };
  const std::pair<int, std::string> bodies[] = {
      {200, "{}"},
      {200, "[" + good + ",1]"},
      {200, with(R"("info_sql":"",)", "")},
      {200, with(R"("id":1,)", "")},
      {200, with(R"("description":"about cpu",)", "")},
      {200, with(R"("low_threshold_value":"50")", R"("low_threshold_value":10)")},
      {200, with(R"("operator":">")", R"("operator":null)")},
      {200, with(R"("probe_dependency_list":["cpu"])", R"("probe_dependency_list":"cpu")")},
      {200, with(R"("is_system_template":false)", R"("is_system_template":0)")},
      {200, with(R"("id":1,)", R"("id":1e99,)")},
      {404, R"({"error":"no errormsg"})"},
  };
  for (const auto& [status, body] : bodies) {
    Answer(status, body);
    const ProcessResult result = RunAgainst(server, {"list-alert-templates", "-c", "all"});
    EXPECT_EQ(result.status, 4) << body;
    EXPECT_EQ(result.out, "") << body;
    EXPECT_EQ(result.err, kParseFailure) << body;
  }
  EXPECT_THAT(Log(), HasSubstr("] Response Validation Error (virtual void "
                               "korv::cli::ListAlertTemplates::Perform()@"));
  EXPECT_EQ(server.RequestsTo("DELETE", "/api/token/").size(), std::size(bodies));
}

class ExportAlertTemplates : public AlertTemplateCommand {
 protected:
  static constexpr char kAnswer[] =
      R"({"version":"11.0","alert_templates":[{"name":"cpu","id":3,"operator":">","b":[2,1]}]})";
  static constexpr char kWritten[] =
      R"({"alert_templates":[{"b":[2,1],"id":3,"name":"cpu","operator":">"}],"version":"11.0"})";

  void Answer(int status, const std::string& body) {
    server.On("POST", "/api/v11/alert/custom/export/", Reply(status, body));
  }
  std::vector<ReceivedRequest> Exports() const {
    return server.RequestsTo("POST", "/api/v11/alert/custom/export/");
  }
};

TEST_F(ExportAlertTemplates, SendsTheChosenIdsOnceEachInAscendingOrder) {
  Answer(200, kAnswer);
  ASSERT_EQ(
      RunAgainst(server, {"export-alert-templates", "-i", "17", "--id", "3", "-i", "17"}).status,
      0);
  ASSERT_EQ(RunAgainst(server, {"export-alert-templates"}).status, 0);
  const auto exports = Exports();
  ASSERT_EQ(exports.size(), 2u);
  EXPECT_EQ(exports[0].body, R"({"alert_templates":[3,17]})");
  EXPECT_EQ(exports[0].Header("Content-Type"), "application/json");
  EXPECT_EQ(exports[1].body, R"({"alert_templates":[]})");

  for (const char* id : {"x", "1.5"}) {
    EXPECT_EQ(RunAgainst(server, {"export-alert-templates", "-i", id}).status, 104) << id;
  }
  EXPECT_EQ(Exports().size(), 2u);
}

TEST_F(ExportAlertTemplates, WritesTheAnswerSortedAndCompactWithoutAFinalLineBreak) {
  Answer(200, kAnswer);
  ProcessResult result = RunAgainst(server, {"export-alert-templates", "-i", "3"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, kWritten);

  const std::string file = home / "templates.json";
  result = RunAgainst(server, {"export-alert-templates", "-i", "3", "-o", file});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(ReadFile(file), kWritten);
  EXPECT_EQ(server.RequestsTo("DELETE", "/api/token/").size(), 2u);
}

TEST_F(ExportAlertTemplates, KeepsAnExistingFileUnlessToldToOverwriteItWhereverTheFlagStands) {
  Answer(200, kAnswer);
  const std::string file = home / "templates.json";
  WriteFile(file, "earlier");
  const ProcessResult refused = RunAgainst(server, {"export-alert-templates", "-o", file});
  EXPECT_EQ(refused.status, 4);
  EXPECT_EQ(refused.err, "Output file '" + file + "' already exists\n");
  EXPECT_EQ(ReadFile(file), "earlier");
  EXPECT_TRUE(server.Requests().empty());
  EXPECT_THAT(Log(), HasSubstr("] FileError (virtual void "
                               "korv::cli::ExportCustomAlertTemplates::Perform()@"));

  for (const auto& args : std::vector<std::vector<std::string>>{
           {"export-alert-templates", "-w", "-o", file},
           {"export-alert-templates", "--out-file", file, "--overwrite"}}) {
    WriteFile(file, "earlier");
    const ProcessResult result = RunAgainst(server, args);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(ReadFile(file), kWritten);
  }
}

TEST_F(ExportAlertTemplates, ReportsAFailureStatusAsAnHttpErrorAndKeepsTheExistingFile) {
  const std::string file = home / "templates.json";
  WriteFile(file, "earlier");
  Answer(400, R"({"errormsg":"Template 9 is not a custom template."})");
  ProcessResult result =
      RunAgainst(server, {"export-alert-templates", "-i", "9", "-w", "-o", file});
  EXPECT_EQ(result.status, 4);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "HTTP (Error: 400): Template 9 is not a custom template.\n");
  EXPECT_THAT(Log(), HasSubstr("] HTTP (Error: 400): Template 9 is not a custom template.\n"));
  EXPECT_EQ(ReadFile(file), "earlier");
  ExpectTokenReleased();

  for (const std::string body : {"<html>", "", "{}"}) {
    Answer(500, body);
    result = RunAgainst(server, {"export-alert-templates", "-w", "-o", file});
    EXPECT_EQ(result.status, 4) << body;
    EXPECT_EQ(result.err, kParseFailure) << body;
    EXPECT_EQ(ReadFile(file), "earlier") << body;
  }
}

class ImportAlertTemplates : public AlertTemplateCommand {
 protected:
  void SetUp() override {
    AlertTemplateCommand::SetUp();
    Answer(200, R"({"result":[]})");
  }
  void Answer(int status, const std::string& body) {
    server.On("POST", "/api/v11/alert/custom/import/", Reply(status, body));
  }
  std::vector<ReceivedRequest> Imports() const {
    return server.RequestsTo("POST", "/api/v11/alert/custom/import/");
  }
  std::string File(const std::string& content) {
    const std::string path = home / "import.json";
    WriteFile(path, content, 0644);
    return path;
  }
};

TEST_F(ImportAlertTemplates, RefusesMissingAndMalformedFilesWithItsOwnMessagesBeforeSending) {
  const std::string file = home / "import.json";
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"import-alert-templates", "--ignore-existing"}, "Provide the Alert template input file."},
      {{"import-alert-templates", "-i", file},
       "Alert-Template input file '" + file + "' does not exists, or is not accessible."},
  };
  for (const auto& [args, message] : cases) {
    const ProcessResult result = RunAgainst(server, args);
    EXPECT_EQ(result.status, 4);
    EXPECT_EQ(result.err, message + "\n");
  }
  for (const char* content : {"", "hello", "{\"alert_templates\":"}) {
    const ProcessResult result =
        RunAgainst(server, {"import-alert-templates", "-i", File(content)});
    EXPECT_EQ(result.status, 4) << content;
    EXPECT_EQ(result.err, "Input file is not a valid alert template file.\n") << content;
  }
  const std::pair<std::string, std::string> halfFormed[] = {
      {R"([{"alert_templates":[],"version":1}])", "version: false, alert_templates: false"},
      {R"({"alert_templates":[]})", "version: false, alert_templates: true"},
      // A probe export file.
      {R"({"probes":[],"version":"11.0"})", "version: true, alert_templates: false"},
  };
  for (const auto& [content, fields] : halfFormed) {
    const std::string path = File(content);
    const ProcessResult result = RunAgainst(server, {"import-alert-templates", "-i", path});
    EXPECT_EQ(result.status, 4) << content;
    EXPECT_EQ(result.err,
              "Input file '" + path +
                  "' does not contain valid formatted data for importing the alert templates.\n");
    EXPECT_THAT(Log(), HasSubstr("] Input file '" + path +
                                 "' does not contain the following fields:\n- " + fields + "\n"));
  }
  size_t infoRecords = 0;
  for (const std::string& line : Lines(Log())) {
    if (line.find("does not contain the following fields") != std::string::npos) {
      EXPECT_THAT(line, HasSubstr(" INFO ")) << "an info record";
      ++infoRecords;
    }
  }
  EXPECT_EQ(infoRecords, std::size(halfFormed));
  EXPECT_THAT(Log(), HasSubstr("] FileError (virtual void "
                               "korv::cli::ImportCustomAlertTemplates::Perform()@"));
  EXPECT_TRUE(server.Requests().empty());
}

TEST_F(ImportAlertTemplates, SendsBothOverwriteSwitchesForEveryCombinationOfTheFlags) {
  const std::string file = File(
      R"( {"version":{"major":11,"b":[1,2]},"other":true,"alert_templates":[{"z":1,"a":"é"}]} tail)");
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{}, R"("skip_overwrite":false,"skip_overwrite_probe":false)"},
      {{"--ignore-existing"}, R"("skip_overwrite":true,"skip_overwrite_probe":false)"},
      {{"--ignore-existing-probes"}, R"("skip_overwrite":false,"skip_overwrite_probe":true)"},
      {{"--ignore-existing-probes", "--ignore-existing"},
       R"("skip_overwrite":true,"skip_overwrite_probe":true)"},
  };
  for (const auto& [flags, switches] : cases) {
    std::vector<std::string> args = {"import-alert-templates", "--in-file", file};
    args.insert(args.end(), flags.begin(), flags.end());
    const ProcessResult result = RunAgainst(server, args);
    EXPECT_EQ(result.status, 0) << switches << result.err;
    EXPECT_EQ(Imports().back().body, R"({"alert_templates":[{"a":"é","z":1}],)" + switches +
                                         R"(,"version":{"b":[1,2],"major":11}})");
    EXPECT_EQ(Imports().back().Header("Content-Type"), "application/json");
  }
  EXPECT_EQ(Imports().size(), 4u);
  EXPECT_THAT(Log(), Not(HasSubstr("does not contain the following fields")));

  for (const char* version : {"null", "7"}) {
    const std::string other =
        File(std::string(R"({"alert_templates":"anything","version":)") + version + "}");
    EXPECT_EQ(RunAgainst(server, {"import-alert-templates", "-i", other}).status, 0) << version;
    EXPECT_EQ(Imports().back().body,
              std::string(R"({"alert_templates":"anything","skip_overwrite":false,)") +
                  R"("skip_overwrite_probe":false,"version":)" + version + "}");
  }
}

TEST_F(ImportAlertTemplates, PrintsTheVerdictPerItemUnderTheProbeHeader) {
  Answer(200, R"({"result":[{"name":"cpu","status":"created","msg":"Created with id 31."},)"
              R"({"name":"disk","status":"skipped","msg":null},{"name":"io","status":"failed"}]})");
  const ProcessResult result = RunAgainst(
      server, {"import-alert-templates", "-i", File(R"({"alert_templates":[],"version":1})")});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out,
            "Probe Name, Status, Reason\n"
            "==========, ======, ======\n"
            "cpu, created, Created with id 31.\n"
            "disk, skipped, skipped\n"
            "io, failed, failed\n");
  ExpectTokenReleased();
}

TEST_F(ImportAlertTemplates, PrintsNothingForAnEmptyResult) {
  const ProcessResult result = RunAgainst(
      server, {"import-alert-templates", "-i", File(R"({"alert_templates":[],"version":1})")});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
}

TEST_F(ImportAlertTemplates, ReportsAFailureStatusAndAnswersOfTheWrongShape) {
  const std::string file = File(R"({"alert_templates":[],"version":1})");
  Answer(400, R"({"errormsg":"Version 1 is not supported."})");
  ProcessResult result = RunAgainst(server, {"import-alert-templates", "-i", file});
  EXPECT_EQ(result.status, 4);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "HTTP (Error: 400): Version 1 is not supported.\n");
  ExpectTokenReleased();

  for (const char* body : {"<html>", "{}", R"({"result":[{"name":"cpu"}]})"}) {
    Answer(200, body);
    result = RunAgainst(server, {"import-alert-templates", "-i", file});
    EXPECT_EQ(result.status, 4) << body;
    EXPECT_EQ(result.err, kParseFailure) << body;
  }
  EXPECT_THAT(Log(), HasSubstr("] Response Validation Error (virtual void "
                               "korv::cli::ImportCustomAlertTemplates::Perform()@"));
  EXPECT_EQ(server.RequestsTo("DELETE", "/api/token/").size(), 4u);
}

TEST_F(ImportAlertTemplates, ImportsWhatTheExportWrote) {
  server.On("POST", "/api/v11/alert/custom/export/",
            Reply(200, R"({"version":"11.0","alert_templates":[{"name":"cpu","operator":">"}]})"));
  const std::string file = home / "exported.json";
  ASSERT_EQ(RunAgainst(server, {"export-alert-templates", "-o", file}).status, 0);
  ASSERT_EQ(RunAgainst(server, {"import-alert-templates", "-i", file}).status, 0);
  EXPECT_EQ(Imports().at(0).body,
            R"({"alert_templates":[{"name":"cpu","operator":">"}],"skip_overwrite":false,)"
            R"("skip_overwrite_probe":false,"version":"11.0"})");
}

}  // namespace
}  // namespace korv::test
