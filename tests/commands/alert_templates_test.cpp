// The alert template subcommands against a scripted server. What they share with the probe
// subcommands (sending, parsing, the status check, the result table, the export destination) is
// proven by the probe tests; here one pass of each subcommand, and what differs.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/cli_test.h"

namespace korv::test {
namespace {

using ::testing::HasSubstr;

// An alert template as the server lists it, its keys in alphabetical order.
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

  StubServer server;
  const std::string file = home / "templates.json";
};

using ListAlertTemplates = AlertTemplateCommand;

TEST_F(ListAlertTemplates, PrintsTheTemplatesOfTheChosenCategoryWithoutAnEnabledFilter) {
  // The second custom template says "enabled":false, which the listing has no filter for.
  std::string disabled = serverTemplate(4, "waits", false);
  disabled.insert(1, R"("enabled":false,)");
  server.On("GET", "/api/v11/alert/template/",
            Reply(200, "[" + serverTemplate(1, "cpu", false) + "," +
                           serverTemplate(2, "disk", true) + "," + disabled + "]"));
  const std::string cpu = printedTemplate(1, "cpu", false), disk = printedTemplate(2, "disk", true),
                    waits = printedTemplate(4, "waits", false);
  const std::string custom = "[\n" + cpu + ",\n" + waits + "\n]\n";
  const std::string system = "[\n" + disk + "\n]\n";
  const std::string all = "[\n" + cpu + ",\n" + disk + ",\n" + waits + "\n]\n";
  // The category given (none for the default) and what is printed.
  const std::pair<const char*, std::string> cases[] = {
      {nullptr, custom}, {"Custom", custom}, {"1", custom}, {"system", system},
      {"0", system},     {"ALL", all},       {"2", all}};
  for (const auto& [category, printed] : cases) {
    const ProcessResult result = RunAgainst(
        server, category ? std::vector<std::string>{"list-alert-templates",
                                                    "--alert-template-category", category}
                         : std::vector<std::string>{"list-alert-templates"});
    EXPECT_EQ(result.status, 0) << (category ? category : "default") << result.err;
    EXPECT_EQ(result.out, printed) << (category ? category : "default");
  }
  for (const char* category : {"enabled", "3"}) {
    EXPECT_EQ(RunAgainst(server, {"list-alert-templates", "-c", category}).status, 105) << category;
  }
  EXPECT_EQ(server.RequestsTo("GET", "/api/v11/alert/template/").size(), std::size(cases));
  EXPECT_EQ(server.RequestsTo("DELETE", "/api/token/").size(), std::size(cases));
}

using ExportAlertTemplates = AlertTemplateCommand;

TEST_F(ExportAlertTemplates, SendsTheIdsUnderItsOwnKeyAndReportsAFailureStatusAsAnHttpError) {
  server.On(
      "POST", "/api/v11/alert/custom/export/",
      Reply(200, R"({"version":"11.0","alert_templates":[{"name":"cpu","id":3,"b":[2,1]}]})"));
  const std::string written =
      R"({"alert_templates":[{"b":[2,1],"id":3,"name":"cpu"}],"version":"11.0"})";
  ProcessResult result =
      RunAgainst(server, {"export-alert-templates", "-i", "17", "--id", "3", "-i", "17"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, written);
  WriteFile(file, "earlier");
  result = RunAgainst(server, {"export-alert-templates", "--out-file", file, "--overwrite"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(ReadFile(file), written);
  const auto exports = server.RequestsTo("POST", "/api/v11/alert/custom/export/");
  ASSERT_EQ(exports.size(), 2u);
  EXPECT_EQ(exports[0].body, R"({"alert_templates":[3,17]})");
  EXPECT_EQ(exports[1].body, R"({"alert_templates":[]})");

  server.On("POST", "/api/v11/alert/custom/export/",
            Reply(400, R"({"errormsg":"Template 9 is not a custom template."})"));
  WriteFile(file, "earlier");
  result = RunAgainst(server, {"export-alert-templates", "-i", "9", "-w", "-o", file});
  EXPECT_EQ(result.status, 4);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "HTTP (Error: 400): Template 9 is not a custom template.\n");
  EXPECT_EQ(ReadFile(file), "earlier");
  EXPECT_EQ(server.RequestsTo("DELETE", "/api/token/").size(), 3u);
}

using ImportAlertTemplates = AlertTemplateCommand;

TEST_F(ImportAlertTemplates, RefusesMissingAndMalformedFilesWithItsOwnMessages) {
  const std::pair<std::vector<std::string>, std::string> missing[] = {
      {{"import-alert-templates"}, "Provide the Alert template input file.\n"},
      {{"import-alert-templates", "-i", file},
       "Alert-Template input file '" + file + "' does not exists, or is not accessible.\n"}};
  for (const auto& [args, err] : missing) {
    EXPECT_EQ(RunAgainst(server, args).err, err);
  }
  const std::string notImportable =
      "Input file '" + file +
      "' does not contain valid formatted data for importing the alert templates.\n";
  // The file's content, the message, and what the log shows.
  const std::tuple<const char*, std::string, std::string> malformed[] = {
      {"hello", "Input file is not a valid alert template file.\n",
       "] FileError (virtual void korv::cli::ImportCustomAlertTemplates::Perform()@"},
      {R"({"alert_templates":[]})", notImportable,
       "following fields:\n- version: false, alert_templates: true\n"},
      {R"({"probes":[],"version":"11.0"})", notImportable,
       "following fields:\n- version: true, alert_templates: false\n"}};
  for (const auto& [content, err, logged] : malformed) {
    WriteFile(file, content, 0644);
    const ProcessResult result = RunAgainst(server, {"import-alert-templates", "-i", file});
    EXPECT_EQ(result.status, 4) << content;
    EXPECT_EQ(result.err, err) << content;
    EXPECT_THAT(Log(), HasSubstr(logged)) << content;
  }
  EXPECT_TRUE(server.Requests().empty());
}

TEST_F(ImportAlertTemplates, SendsBothOverwriteSwitchesForEveryCombinationOfTheFlags) {
  server.On("POST", "/api/v11/alert/custom/import/",
            Reply(200, R"({"result":[{"name":"cpu","status":"created","msg":"Created."}]})"));
  WriteFile(file, R"({"version":"11.0","alert_templates":[{"z":1,"a":"é"}]})", 0644);
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{}, R"("skip_overwrite":false,"skip_overwrite_probe":false)"},
      {{"--ignore-existing"}, R"("skip_overwrite":true,"skip_overwrite_probe":false)"},
      {{"--ignore-existing-probes"}, R"("skip_overwrite":false,"skip_overwrite_probe":true)"},
      {{"--ignore-existing-probes", "--ignore-existing"},
       R"("skip_overwrite":true,"skip_overwrite_probe":true)"},
  };
  size_t sent = 0;
  for (const auto& [flags, switches] : cases) {
    std::vector<std::string> args = {"import-alert-templates", "--in-file", file};
    args.insert(args.end(), flags.begin(), flags.end());
    const ProcessResult result = RunAgainst(server, args);
    EXPECT_EQ(result.status, 0) << switches << result.err;
    EXPECT_EQ(result.out,
              "Probe Name, Status, Reason\n==========, ======, ======\ncpu, created, Created.\n");
    EXPECT_EQ(server.RequestsTo("POST", "/api/v11/alert/custom/import/").at(sent++).body,
              R"({"alert_templates":[{"a":"é","z":1}],)" + switches + R"(,"version":"11.0"})");
  }
}

}  // namespace
}  // namespace korv::test
