// Files and answers made to hurt the client: documents nested without end, exports that are no
// exports, data hidden after an import file, ids in other bases and verdicts that forge lines.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/cli_test.h"

namespace korv::test {
namespace {

constexpr char kParseFailure[] = "Failed to parse the response from the KORV Server.\n";
constexpr char kExportPath[] = "/api/v11/probe/custom/export/";
constexpr char kTemplateExportPath[] = "/api/v11/alert/custom/export/";
constexpr char kImportPath[] = "/api/v11/probe/custom/import/";

class ForgedInput : public CliTest {
 protected:
  void SetUp() override {
    server.ServeSession();
    WriteFile(earlier, "earlier");
  }

  // The run ends with status 4 and the message, having printed nothing, released every token it
  // obtained and left the output directory as it was.
  void ExpectRefused(const std::vector<std::string>& args, const std::string& err) {
    SCOPED_TRACE(args.at(0) + " " + err);
    const ProcessResult result = RunAgainst(server, args);
    EXPECT_EQ(result.status, 4);
    EXPECT_EQ(result.err, err);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(server.RequestsTo("DELETE", "/api/token/").size(),
              server.RequestsTo("POST", "/api/token/").size());
    EXPECT_EQ(Entries(files.Path()), std::vector<std::string>{"earlier.json"});
    EXPECT_EQ(ReadFile(earlier), "earlier");
  }
  std::string File(const std::string& content) {
    WriteFile(home / "in.json", content);
    return home / "in.json";
  }

  StubServer server;
  TempDir files;
  const std::string earlier = files / "earlier.json";
};

TEST_F(ForgedInput, DeepFilesAndAnswersAreRefusedWithTheTokenReleasedAndNoFileLeft) {
  const std::string deepFile =
      R"({"version":"11.0","probes":)" + std::string(100000, '[') + std::string(100000, ']') + "}";
  ExpectRefused({"import-probes", "-i", File(deepFile)}, "Input file is not a valid probe file.\n");
  EXPECT_THAT(server.Requests(), ::testing::IsEmpty());

  server.On("POST", kExportPath, Reply(200, deepFile));
  ExpectRefused({"export-probes", "-w", "-o", earlier}, kParseFailure);
}

TEST_F(ForgedInput, ASuccessAnswerThatTheImportWouldRefuseIsNoExport) {
  // Whether the answer is one to the probes' request, and the answer.
  const std::pair<bool, const char*> answers[] = {
      {true, R"({"errormsg":"database unavailable"})"},
      {true, "null"},
      {true, "[]"},
      {true, R"({"version":"11.0","probes":{}})"},
      {true, R"({"probes":[]})"},
      {false, R"({"version":"11.0","probes":[]})"},
      {false, R"({"version":"11.0","alert_templates":null})"}};
  for (const auto& [probes, body] : answers) {
    server.On("POST", probes ? kExportPath : kTemplateExportPath, Reply(200, body));
    ExpectRefused({probes ? "export-probes" : "export-alert-templates", "-w", "-o", earlier},
                  kParseFailure);
  }
}

TEST_F(ForgedInput, OnlyWhiteSpaceMayFollowTheImportFilesValue) {
  const std::string value = R"({"version":1,"probes":[]})";
  for (const char* after : {value.c_str(), " x", "\n]", "0"}) {
    ExpectRefused({"import-probes", "-i", File(value + after)},
                  "Input file is not a valid probe file.\n");
  }
  EXPECT_THAT(server.Requests(), ::testing::IsEmpty());
  server.On("POST", kImportPath, Reply(200, R"({"result":[]})"));
  EXPECT_EQ(RunAgainst(server, {"import-probes", "-i", File(value + " \n\t\r\n")}).status, 0);
}

TEST_F(ForgedInput, IdsAreDecimalsUpToTheLargestUnsigned32BitNumberAndNothingElse) {
  for (const std::string noun : {"probes", "alert-templates"}) {
    const std::string path = noun == "probes" ? kExportPath : kTemplateExportPath;
    server.On("POST", path, Reply(200, R"({"version":1,"probes":[],"alert_templates":[]})"));
    const std::string command = "export-" + noun;
    ASSERT_EQ(RunAgainst(server, {command, "-i", "013", "-i", "4294967295", "-i", "00"}).status, 0);
    EXPECT_THAT(server.RequestsTo("POST", path).back().body,
                ::testing::EndsWith(":[0,13,4294967295]}"));
    const size_t sent = server.Requests().size();
    for (const char* id : {"0x10", "-1", "1.5", "+3", "", "4294967296", " 7", "1e3"}) {
      const ProcessResult result = RunAgainst(server, {command, "-i", id});
      EXPECT_EQ(result.status, 104) << command << " " << id;
      EXPECT_THAT(result.err, ::testing::StartsWith("Could not convert: "));
    }
    EXPECT_EQ(server.Requests().size(), sent);
  }
}

TEST_F(ForgedInput, ControlCharactersInTheVerdictTableAreEscapedSoEachItemIsOneLine) {
  server.On("POST", kImportPath,
            Reply(200, R"({"result":[{"name":"Evil\nCPU Usage, created, created",)"
                       R"("status":"created\r","msg":"\u001b[2Jgone \"quoted\" \\ a\tb"}]})"));
  const ProcessResult result =
      RunAgainst(server, {"import-probes", "-i", File(R"({"version":1,"probes":[]})")});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out,
            "Probe Name, Status, Reason\n==========, ======, ======\n"
            R"(Evil\nCPU Usage, created, created, created\r, \u001b[2Jgone "quoted" \ a\tb)"
            "\n");
}

}  // namespace
}  // namespace korv::test
