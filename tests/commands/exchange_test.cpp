// The list, export and import subcommands of probes and alert templates against a scripted
// server: what they send, print and report. What both kinds share is proven for each of them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/cli_test.h"

namespace korv::test {
namespace {

using ::testing::HasSubstr;
using ::testing::PrintToString;
using Flags = std::vector<std::string>;

constexpr char kParse[] = "Failed to parse the response from the KORV Server.\n";
constexpr char kTable[] = "Probe Name, Status, Reason\n==========, ======, ======\n";

struct Kind {
  std::string name;                                     // in the subcommand names
  std::string key;                                      // of the items in files and requests
  std::string api;                                      // where its export and import requests go
  std::string provide, file, valid, importing;          // in its messages about the input file
  std::string refused;                                  // what an export refused with "No." shows
  std::vector<std::pair<Flags, std::string>> switches;  // import flags and what they send
};
void PrintTo(const Kind& kind, std::ostream* out) {
  *out << kind.name;
}

class Exchange : public ServerTest, public ::testing::WithParamInterface<Kind> {
 protected:
  const Kind& kind = GetParam();
  const std::string file = home / "items.json";
  const std::string exportPath = kind.api + "custom/export/",
                    importPath = kind.api + "custom/import/";

  std::string Command(const std::string& verb) { return verb + "-" + kind.name; }
  // The run shows the error alone with status 4, having printed what is given. Refused, it sent
  // nothing; else it released the token it obtained.
  void ExpectError(const Flags& args, const std::string& err, const std::string& out = "",
                   bool refused = false) {
    const size_t sent = server.Requests().size(), released = Releases();
    EXPECT_EQ(Showing(RunAgainst(args)), (Shown{4, out, err})) << PrintToString(args);
    EXPECT_EQ(server.Requests().size() == sent, refused) << PrintToString(args);
    EXPECT_EQ(Releases(), released + (refused ? 0 : 1)) << PrintToString(args);
  }
  std::string File(const std::string& content, mode_t mode = 0644) {
    WriteFile(file, content, mode);
    return file;
  }
  std::string Export(const std::string& items) {
    return R"({")" + kind.key + R"(":)" + items + R"(,"version":"11.0"})";
  }
};

TEST_P(Exchange, ReportAStandardOutputThatTakesNothingAsAnError) {
  server.On("GET", kind.api + (kind.name == "probes" ? "" : "template/"), Reply(200, "[]"));
  server.On("POST", exportPath, Reply(200, Export("[]")));
  server.On("POST", importPath, Reply(200, R"({"result":[{"name":"cpu","status":"created"}]})"));
  for (const auto& args : {Flags{Command("list")}, Flags{Command("export")},
                           Flags{Command("import"), "-i", File(Export("[]"))}}) {
    for (const bool closed : {false, true}) {
      ProcessOptions options{{}, {}, closed ? "" : "/dev/full", closed, {}};
      EXPECT_EQ(Showing(RunAgainst(args, options)),
                (Shown{4, "", "Failed to write to the standard output.\n"}))
          << args[0] << closed;
    }
  }
}

TEST_P(Exchange, ExportWritesTheChosenItemsSortedAndCompactReplacingAFileOnlyWithTheFlag) {
  server.On(
      "POST", exportPath,
      Reply(200, R"({"version":"11.0",")" + kind.key + R"(":[{"name":"c\"x","id":3,"z":1.5e3}]})"));
  const std::string written = Export(R"([{"id":3,"name":"c\"x","z":1500.0}])");
  EXPECT_EQ(Showing(RunAgainst({Command("export"), "-i", "17", "-i", "3", "-i", "17"})),
            (Shown{0, written, ""}));
  EXPECT_EQ(Showing(RunAgainst({Command("export"), "-o", file})), (Shown{0, "", ""}));
  EXPECT_EQ(FileMode(file), 0644);
  for (const auto& flag : {"-w", "--overwrite"}) {
    EXPECT_EQ(RunAgainst({Command("export"), flag, "-o", File("earlier", 0640)}).status, 0);
    EXPECT_EQ(FileMode(file), 0640) << "the file kept its permissions";
    EXPECT_EQ(ReadFile(file), written);
  }
  const auto exports = server.RequestsTo("POST", exportPath);
  ASSERT_EQ(exports.size(), 4u);
  EXPECT_EQ(exports[0].body, R"({")" + kind.key + R"(":[3,17]})");
  EXPECT_EQ(exports[0].Header("Content-Type"), "application/json");
  EXPECT_EQ(exports[1].body, R"({")" + kind.key + R"(":[]})");
}

TEST_P(Exchange, ExportRefusesATargetItMayNotWriteBeforeContactingTheServer) {
  File("earlier", 0600);
  const std::string missing = home / "no/such/dir/items.json";
  const std::pair<Flags, std::string> cases[] = {
      {{"-o", file}, "Output file '" + file + "' already exists\n"},
      {{"-o", home.Path()}, "Output file '" + home.Path() + "' already exists\n"},
      {{"-w", "-o", home.Path()}, "Failed to open the output file '" + home.Path() + "'\n"},
      {{"-o", missing}, "Failed to open the output file '" + missing + "'\n"}};
  for (auto [args, err] : cases) {
    args.insert(args.begin(), Command("export"));
    ExpectError(args, err, "", true);
  }
  EXPECT_EQ(ReadFile(file), "earlier");
  EXPECT_THAT(Log(), HasSubstr("] FileError (virtual void korv::cli::ExportCustom"));
}

TEST_P(Exchange, ExportReportsAFailureOrAnAnswerOfTheWrongShapeAndLeavesTheTargetAsItWas) {
  const std::pair<int, std::string> failures[] = {{400, R"({"errormsg":"No."})"},
                                                  {500, "<html>"},
                                                  {200, ""},
                                                  {200, R"({"version":1})"},
                                                  {200, R"({")" + kind.key + R"(":[]})"}};
  for (const auto& [status, body] : failures) {
    server.On("POST", exportPath, Reply(status, body));
    const std::string err = status == 400 ? kind.refused : kParse;
    ExpectError({Command("export"), "-w", "-o", File("earlier")}, err);
    EXPECT_EQ(ReadFile(file), "earlier");
    std::remove(file.c_str());
    ExpectError({Command("export"), "-o", file}, err);
    EXPECT_EQ(Entries(home.Path()), std::vector<std::string>{".korv-cli.log"});
  }
  server.ServeSession("tok-123", {"v10_api"});
  EXPECT_EQ(Showing(RunAgainst({Command("export"), "-w", "-o", File("earlier")})),
            (Shown{0, "", "KORV Server is not compatible with this utility.\n"}));
  EXPECT_EQ(ReadFile(file), "earlier");
}

TEST_P(Exchange, ImportRefusesMissingUnreadableAndMalformedFilesBeforeSendingAnything) {
  ExpectError({Command("import")}, "Provide the " + kind.provide + " input file.\n", "", true);
  ExpectError({Command("import"), "-i", file},
              kind.file + " input file '" + file + "' does not exists, or is not accessible.\n", "",
              true);
  const std::string invalid = "Input file is not a valid " + kind.valid + " file.\n";
  const std::string halfFormed = "Input file '" + file +
                                 "' does not contain valid formatted data for importing the " +
                                 kind.importing + ".\n";
  const std::pair<std::string, std::string> cases[] = {
      {"", invalid},
      {"hello", invalid},
      {R"({"a":[1e400]})", invalid},
      {Export("[]") + Export("[]"), invalid},
      {"[" + Export("[]") + "]", halfFormed},
      {R"({")" + kind.key + R"(":[]})", halfFormed},
      {R"({"version":1,"other":[]})", halfFormed}};
  for (const auto& [content, err] : cases) {
    ExpectError({Command("import"), "-i", File(content)}, err, "", true);
  }
  EXPECT_THAT(Log(), HasSubstr("does not contain the following fields:\n- version: true, " +
                               kind.key + ": false\n"));
  File(Export("[]"), 0600);
  ::chmod(home.Path().c_str(), 0711);
  ::unlink(LogPath().c_str());  // root's log would be refused with a warning
  unprivileged = true;
  ExpectError({Command("import"), "-i", file}, "Failed to open the input file '" + file + "'\n", "",
              true);
}

TEST_P(Exchange, ImportSendsTheFileWithItsSwitchesAndPrintsTheVerdictPerItemOnOneLine) {
  File(R"( {"version":{"major":11,"b":[1,2]},"other":1,")" + kind.key + R"(":[{"z":1,"a":"é"}]} )");
  server.On("POST", importPath,
            Reply(200, R"({"result":[{"name":"cpu","status":"created","msg":"Id 31."},)"
                       R"({"name":"di\nsk","status":"skipped","msg":null},)"
                       R"({"name":"io","status":"failed","msg":"\u001b[31m"}]})"));
  size_t sent = 0;
  for (const auto& [flags, switches] : kind.switches) {
    Flags args = {Command("import"), "--in-file", file};
    args.insert(args.end(), flags.begin(), flags.end());
    EXPECT_EQ(Showing(RunAgainst(args)),
              (Shown{0,
                     kTable + std::string("cpu, created, Id 31.\ndi\\nsk, skipped, skipped\n") +
                         "io, failed, \\u001b[31m\n",
                     ""}));
    EXPECT_EQ(server.RequestsTo("POST", importPath).at(sent++).body,
              R"({")" + kind.key + R"(":[{"a":"é","z":1}],)" + switches +
                  R"(,"version":{"b":[1,2],"major":11}})");
  }
}

TEST_P(Exchange, ImportReportsAFailureStatusAndAnswersOfTheWrongShapeKeepingWhatWasPrinted) {
  File(Export("[]"));
  const std::string table = kTable;
  // The status and body of the answer, what was printed before the error, and the error.
  const std::tuple<int, std::string, std::string, std::string> answers[] = {
      {400, R"({"errormsg":"Version 1 is not supported."})", "",
       "HTTP (Error: 400): Version 1 is not supported.\n"},
      {200, "<html>", "", kParse},
      {200, R"({"result":{}})", "", kParse},
      {200, R"({"result":[1]})", table, kParse},
      {200, R"({"result":[{"name":"cpu","status":"created"},{"name":"io","status":false}]})",
       table + "cpu, created, created\n", kParse}};
  for (const auto& [status, body, out, err] : answers) {
    server.On("POST", importPath, Reply(status, body));
    ExpectError({Command("import"), "-i", file}, err, out);
  }
}

INSTANTIATE_TEST_SUITE_P(
    ProbesAndAlertTemplates, Exchange,
    ::testing::Values(Kind{"probes",
                           "probes",
                           "/api/v11/probe/",
                           "probe",
                           "Probe",
                           "probe",
                           "probes",
                           "No.\n",
                           {{{}, R"("skip_overwrite":false)"},
                            {{"--ignore-existing"}, R"("skip_overwrite":true)"}}},
                      Kind{"alert-templates",
                           "alert_templates",
                           "/api/v11/alert/",
                           "Alert template",
                           "Alert-Template",
                           "alert template",
                           "alert templates",
                           "HTTP (Error: 400): No.\n",
                           {{{}, R"("skip_overwrite":false,"skip_overwrite_probe":false)"},
                            {{"--ignore-existing"},
                             R"("skip_overwrite":true,"skip_overwrite_probe":false)"},
                            {{"--ignore-existing-probes"},
                             R"("skip_overwrite":false,"skip_overwrite_probe":true)"},
                            {{"--ignore-existing-probes", "--ignore-existing"},
                             R"("skip_overwrite":true,"skip_overwrite_probe":true)"}}}),
    [](const auto& info) { return info.param.key; });

// A probe as the server lists it, its keys in alphabetical order and some the client drops.
std::string serverProbe(int id, bool enabled, bool system) {
  return R"({"discard_history":false,"enabled":)" + std::string(enabled ? "true" : "false") +
         R"(,"id":)" + std::to_string(id) + R"(,"internal_name":"p","interval":60,)" +
         R"("is_system_probe":)" + (system ? "true" : "false") +
         R"(,"level":"server","lifetime":30,"name":"p","platform":"linux","sql":"x"})";
}

// The same (enabled) probe as the client prints it.
std::string printedProbe(int id, bool system) {
  return R"({"id":)" + std::to_string(id) +
         R"(,"name":"p","internal_name":"p","level":"server","platform":"linux","enabled":true,)"
         R"("interval":60,"lifetime":30,"discard_history":false,"is_system_probe":)" +
         (system ? "true" : "false") + "}";
}

using ListProbes = ServerTest;

TEST_F(ListProbes, PrintsTheEnabledProbesOfTheChosenCategoryOnePerLineWithTheirKeysInOrder) {
  server.On("GET", "/api/v11/probe/",
            Reply(200, "[" + serverProbe(1, true, false) + "," + serverProbe(2, true, true) + "," +
                           serverProbe(3, false, false) + "," + serverProbe(4, true, false) + "," +
                           serverProbe(5, false, true) + "]"));
  const std::string one = "[\n" + printedProbe(1, false) + ",\n", four = printedProbe(4, false);
  const std::pair<Flags, std::string> cases[] = {
      {{}, one + four + "\n]\n"},
      {{"-c", "Custom"}, one + four + "\n]\n"},
      {{"-c", "0"}, "[\n" + printedProbe(2, true) + "\n]\n"},
      {{"--probe-category", "all"}, one + printedProbe(2, true) + ",\n" + four + "\n]\n"},
      {{"-c", "3"}, ""}};
  for (auto [args, printed] : cases) {
    args.insert(args.begin(), "list-probes");
    EXPECT_EQ(RunAgainst(args).out, printed) << PrintToString(args);
  }
  EXPECT_EQ(server.RequestsTo("GET", "/api/v11/probe/").at(0).Header("X-Auth-Token"), "tok-123");
  EXPECT_EQ(Releases(), std::size(cases) - 1) << "nothing is sent for an unknown category";
}

TEST_F(ListProbes, TakesOnly200To299AsSuccessAndReportsEveryOtherAnswerOnOneLine) {
  std::string nullEnabled = serverProbe(1, true, false);
  nullEnabled.replace(nullEnabled.find("true"), 4, "null");
  // A 1xx status is never final over HTTP/1.1, so 300 is the nearest failure below 200.
  const std::tuple<int, std::string, Shown> cases[] = {
      {201, "[]", {0, "[]\n", ""}},
      {299, "[" + serverProbe(3, false, false) + "]", {0, "[]\n", ""}},
      {300, R"({"errormsg":"moved"})", {4, "", "HTTP (Error: 300): moved\n"}},
      {500, R"({"errormsg":42})", {4, "", kParse}},
      {500, "[]", {4, "", kParse}},
      {200, std::string("[]\0junk", 7), {4, "", kParse}},
      {200, R"({"probes":[]})", {4, "", kParse}},
      {200, "[" + nullEnabled + "]", {4, "", kParse}},
      {200, "[" + serverProbe(1, true, false) + R"(,{"id":2}])", {4, "", kParse}}};
  for (const auto& [status, body, shown] : cases) {
    server.On("GET", "/api/v11/probe/", Reply(status, body));
    EXPECT_EQ(Showing(RunAgainst({"list-probes"})), shown) << status << body;
  }
  EXPECT_EQ(Releases(), std::size(cases));
  EXPECT_THAT(Log(), HasSubstr("] Response Validation Error (virtual void "
                               "korv::cli::ListProbes::Perform()@"));
}

using ListAlertTemplates = ServerTest;

TEST_F(ListAlertTemplates, ShowTheChosenCategoryWithoutAFilterOnEnabled) {
  const auto listed = [](bool system) {
    return R"({"default_check_frequency":5,"default_history_retention":30,"description":"d",)"
           R"("enabled":false,"high_threshold_value":"90","id":1,"info_sql":"",)"
           R"("is_auto_create":false,"is_system_template":)" +
           std::string(system ? "true" : "false") +
           R"(,"low_threshold_value":"50","medium_threshold_value":"75","name":"t",)"
           R"("object_type":"server","operator":">","probe_dependency_list":["cpu"]})";
  };
  server.On("GET", "/api/v11/alert/template/",
            Reply(200, "[" + listed(false) + "," + listed(true) + "]"));
  for (const auto& [category, count] :
       {std::pair("custom", 1u), {"1", 1u}, {"SYSTEM", 1u}, {"2", 2u}}) {
    const ProcessResult result = RunAgainst({"list-alert-templates", "-c", category});
    EXPECT_EQ(Lines(result.out).size(), count + 2) << category << result.err;
  }
}

}  // namespace
}  // namespace korv::test
