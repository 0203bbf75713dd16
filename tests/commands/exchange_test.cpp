// The list, export and import subcommands of probes and alert templates against a scripted
// server: what they send, print and report. What both kinds share is proven for each of them.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <thread>

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

// Probes or alert templates: what differs between their subcommands.
struct Kind {
  bool probes;
  std::string name = probes ? "probes" : "alert-templates";  // in the subcommand names
  std::string key = probes ? "probes" : "alert_templates";   // of the items in files and requests
  std::string api = probes ? "/api/v11/probe/" : "/api/v11/alert/";
  std::string title = probes ? "probe" : "alert template";  // in messages about the input file
  std::string provide = probes ? "Provide the probe" : "Provide the Alert template";
  std::string missing = probes ? "Probe input file '" : "Alert-Template input file '";
  std::string refused = probes ? "No.\n" : "HTTP (Error: 400): No.\n";  // an export refused
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
    ProcessOptions options;
    options.closedFds = {1};
    EXPECT_EQ(Showing(RunAgainst(args, options)),
              (Shown{4, "", "Failed to write to the standard output.\n"}))
        << args[0];
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
  EXPECT_EQ(RunAgainst({Command("export"), "--overwrite", "-o", File("earlier", 0640)}).status, 0);
  EXPECT_EQ(FileMode(file), 0640) << "the file kept its permissions";
  EXPECT_EQ(RunAgainst({Command("export"), "-i", "12x"}).status, 104);
  EXPECT_EQ(ReadFile(file), written);
  const auto exports = server.RequestsTo("POST", exportPath);
  ASSERT_EQ(exports.size(), 3u);
  EXPECT_EQ(exports[0].body, R"({")" + kind.key + R"(":[3,17]})");
  EXPECT_EQ(exports[1].body, R"({")" + kind.key + R"(":[]})");
}

TEST_P(Exchange, ExportThatFailsLeavesTheTargetAsItWasAndRefusesOneItMayNotWriteAtOnce) {
  const std::string missing = home / "no/such/dir/items.json", dir = home.Path();
  const std::string fresh = home / "new.json", no = R"({"errormsg":"No."})", link = home / "link";
  ASSERT_EQ(::symlink("linked.json", link.c_str()), 0);
  // The arguments, the answer (none when nothing may be sent) and the error.
  const std::tuple<Flags, int, std::string, std::string> cases[] = {
      {{"-o", file}, 0, "", "Output file '" + file + "' already exists\n"},
      {{"-o", link}, 0, "", "Output file '" + link + "' already exists\n"},
      {{"-w", "-o", dir}, 0, "", "Failed to open the output file '" + dir + "'\n"},
      {{"-o", missing}, 0, "", "Failed to open the output file '" + missing + "'\n"},
      {{"-w", "-o", file}, 400, no, kind.refused},
      {{"-w", "-o", file}, 500, "<html>", kParse},
      {{"-w", "-o", file}, 200, R"({"version":1})", kParse},
      {{"-o", fresh}, 200, R"({")" + kind.key + R"(":[]})", kParse}};
  File("earlier", 0600);
  for (auto [args, status, body, err] : cases) {
    server.On("POST", exportPath, Reply(status, body));
    args.insert(args.begin(), Command("export"));
    ExpectError(args, err, "", status == 0);
  }
  EXPECT_EQ(ReadFile(file), "earlier");
  EXPECT_EQ(Entries(home.Path()), (Flags{".korv-cli.log", "items.json", "link"}));
  EXPECT_THAT(Log(), HasSubstr("] FileError (virtual void korv::cli::ExportCustom"));
}

TEST_P(Exchange, ImportReportsAFileOrAnAnswerItCannotUseOnOneLineKeepingWhatWasPrinted) {
  ExpectError({Command("import")}, kind.provide + " input file.\n", "", true);
  ExpectError({Command("import"), "-i", file},
              kind.missing + file + "' does not exists, or is not accessible.\n", "", true);
  const std::string invalid = "Input file is not a valid " + kind.title + " file.\n";
  const std::string halfFormed = "Input file '" + file +
                                 "' does not contain valid formatted data for importing the " +
                                 kind.title + "s.\n";
  const std::string table = kTable, good = Export("[]");
  // The file, the answer (none when nothing may be sent), what was printed and the error.
  const std::tuple<std::string, int, std::string, std::string, std::string> cases[] = {
      {"hello", 0, "", "", invalid},
      {R"({"a":[1e400]})", 0, "", "", invalid},
      {good + " x", 0, "", "", invalid},
      {R"({")" + kind.key + R"(":[]})", 0, "", "", halfFormed},
      {R"({"version":1,"other":[]})", 0, "", "", halfFormed},
      {good, 400, R"({"errormsg":"No."})", "", "HTTP (Error: 400): No.\n"},
      {good, 200, R"({"result":{}})", "", kParse},
      {good, 200, R"({"result":[1]})", table, kParse},
      {good, 200, R"({"result":[{"name":"cpu","status":"created"},{"name":"io","status":false}]})",
       table + "cpu, created, created\n", kParse}};
  for (const auto& [content, status, body, out, err] : cases) {
    server.On("POST", importPath, Reply(status, body));
    ExpectError({Command("import"), "-i", File(content)}, err, out, status == 0);
  }
  // A backup never takes the name of a link, nor creates the file a dangling one names.
  const std::string link = home / "link";
  ASSERT_EQ(::symlink("missing.json", link.c_str()), 0);
  ExpectError({Command("import"), "-i", File(good), "--backup", link},
              "Output file '" + link + "' already exists\n", "", true);
  EXPECT_FALSE(Exists(home / "missing.json"));
  EXPECT_THAT(Log(), HasSubstr("does not contain the following fields:\n- version: true, " +
                               kind.key + ": false\n"));
}

TEST_P(Exchange, ImportSendsTheFileWithItsSwitchesAndPrintsTheVerdictPerItemOnOneLine) {
  File(R"( {"version":{"major":11,"b":[1,2]},"other":1,")" + kind.key + R"(":[{"z":1,"a":"é"}]} )");
  server.On("POST", importPath,
            Reply(200, R"({"result":[{"name":"cpu","status":"created","msg":"Id 31."},)"
                       R"({"name":"di\nsk","status":"skipped","msg":null},)"
                       R"({"name":"io","status":"failed","msg":"\u001b[31m"}]})"));
  const char* no[] = {"false", "true"};
  for (int flags = 0; flags < (kind.probes ? 2 : 4); ++flags) {
    Flags args = {Command("import"), "--in-file", file};
    if (flags & 1) {
      args.push_back("--ignore-existing");
    }
    if (flags & 2) {
      args.push_back("--ignore-existing-probes");
    }
    EXPECT_EQ(Showing(RunAgainst(args)),
              (Shown{0,
                     kTable + std::string("cpu, created, Id 31.\ndi\\nsk, skipped, skipped\n") +
                         "io, failed, \\u001b[31m\n",
                     ""}));
    const std::string switches =
        "\"skip_overwrite\":" + std::string(no[flags & 1]) +
        (kind.probes ? "" : ",\"skip_overwrite_probe\":" + std::string(no[flags >> 1]));
    EXPECT_EQ(server.RequestsTo("POST", importPath).at(flags).body,
              R"({")" + kind.key + R"(":[{"a":"é","z":1}],)" + switches +
                  R"(,"version":{"b":[1,2],"major":11}})");
  }
}

// The check needs no server options and sends nothing: problems give 3, a file that the import
// refuses 4 with the import's message, a clean one 0.
TEST_P(Exchange, CheckFindsWhatAnImportWouldTripOnWithoutAServer) {
  const std::string table = "Name, Problem\n====, =======\n";
  const std::string notes =
      "t, Note: depends on probe 'q', which the file does not carry; the "
      "server must have it\n";
  std::vector<std::tuple<std::string, int, std::string, std::string>> cases = {
      {Export(R"([{"name":"a","id":1}])"), 0, "", ""},
      {R"({"version":"11","x":1,")" + kind.key +
           R"(":[{"name":"a\u001b","id":"1"},{"name":"a\u001b"},{"name":""},7]})",
       3,
       table + file +
           R"(, Unknown version format "11": numbers with dots are expected, such as "11.0")" +
           "\na\\u001b, Field 'id' must be an unsigned 32-bit integer, not string\n"
           "a\\u001b, Duplicate name: items 1 and 2 have it; an import keeps the last\n"
           "Item 3, No name: 'name' must be a non-empty string\nItem 4, Not a JSON object\n",
       ""},
      {"hello", 4, "", "Input file is not a valid " + kind.title + " file.\n"}};
  if (!kind.probes) {
    cases.push_back(
        {Export(R"([{"name":"t","probe_dependency_list":["q"]}])"), 0, table + notes, ""});
    cases.push_back(
        {Export(
             R"([{"name":"t","probe_dependency_list":["p","q"],"custom_probes":[{"name":"p","enabled":1}]}])"),
         3, table + "Probe 'p', Field 'enabled' must be a boolean, not number\n" + notes, ""});
  }
  for (const auto& [content, status, out, err] : cases) {
    EXPECT_EQ(Showing(Run({Command("check"), "-i", File(content)})), (Shown{status, out, err}))
        << content;
  }
  EXPECT_EQ(
      Showing(RunAgainst({Command("check"), "-i", home / "none"})),
      (Shown{4, "", kind.missing + home / "none" + "' does not exists, or is not accessible.\n"}));
  EXPECT_EQ(server.Requests().size(), 0u);
}

// A server that does not offer v11 ends every command with status 6 before anything is asked of
// it or written; the token is given back all the same.
TEST_P(Exchange, EndEveryCommandWithSixOnAServerWithoutV11NamingItAndTheVersionsItOffers) {
  const std::string out = home / "out.json", config = home / "c.toml";
  const std::string host = server.BaseUrl().substr(7), url = "http://me:pw@" + host;
  StubServer source;  // the migration's source speaks v11: the target is refused
  source.ServeSession();
  WriteFile(config, "[servers.a]\nurl = '" + source.BaseUrl() +
                        "'\nuser = 'a'\n[servers.b]\nurl = '" + url + "'\nuser = 'a'\n");
  const std::vector<Flags> runs = {
      {"--config", config, "migrate", "--from", "a", "--to", "b", "--dir", home / "r", "--dry-run"},
      {"--config", config, "migrate", "--from", "a", "--to", "b", "--dir", home / "r"},
      {Command("list")},
      {Command("export"), "-o", out},
      {Command("import"), "-i", File(Export("[]"))},
      {Command("import"), "-i", file, "--backup", out},
      {Command("diff"), "-i", file}};
  const std::pair<Flags, std::string> offers[] = {{{"v10_api"}, "v10_api"},
                                                  {{"v10_api", "v12_api"}, "v10_api, v12_api"},
                                                  {{}, "no API version"}};
  const std::string said =
      "KORV Server is not compatible with this utility.\nThe server at 'http://***@" + host;
  const std::string stop =
      "Migration from 'a' to 'b' stopped at the login to 'b'; nothing was imported.\n";
  environment = {"KORV_API_PASSWORD=secret"};
  for (const auto& [versions, offered] : offers) {
    server.ServeSession("tok-123", versions);
    for (const Flags& args : runs) {
      const bool migrate = args[0] == "--config";
      EXPECT_EQ(Showing(migrate ? Run(args) : RunAgainst(url, args)),
                (Shown{6, migrate ? stop : "", said + "' offers " + offered + ".\n"}))
          << PrintToString(args);
    }
  }
  // Each run logged in and gave its token back, and asked nothing else.
  EXPECT_EQ(Releases(), std::size(offers) * runs.size());
  EXPECT_EQ(server.Requests().size(), 2 * Releases());
  EXPECT_FALSE(Exists(out));
}

INSTANTIATE_TEST_SUITE_P(ProbesAndAlertTemplates, Exchange,
                         ::testing::Values(Kind{true}, Kind{false}),
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

// What "-w -o" names keeps its identity: a FIFO, standard output, a file with other names or
// another owner get the export written into them; only a file that nothing else refers to, or a
// dangling link, is replaced by a new one.
using ExportTarget = ServerTest;

TEST_F(ExportTarget, IsWrittenIntoWhereAReplacementWouldLoseWhatItIsOnceTheExportArrived) {
  const std::string fifo = home / "fifo", link = home / "link", file = home / "file.json";
  const std::string foreign = home / "foreign.json", longName = home / std::string(250, 'n');
  const std::string exported = R"({"probes":[{"id":3}],"version":1})";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);  // its writer does not block
  ASSERT_EQ(::symlink("linked.json", link.c_str()), 0);
  WriteFile(file, "earlier", 0640);
  ASSERT_EQ(::link(file.c_str(), (home / "other-name.json").c_str()), 0);
  WriteFile(foreign, "earlier", 0604);
  const bool root = ::geteuid() == 0;
  ASSERT_TRUE(!root || ::chown(foreign.c_str(), 65534, 65534) == 0);
  ProcessResult result;
  for (const int status : {500, 200}) {
    server.On("POST", "/api/v11/probe/custom/export/", Reply(status, exported));
    for (const std::string& target : Flags{fifo, link, file, foreign, longName, "/dev/stdout"}) {
      result = RunAgainst({"export-probes", "-w", "-o", target});
      EXPECT_EQ(result.status, status == 200 ? 0 : 4) << target << result.err;
    }
    const std::string now = status == 200 ? exported : "earlier";
    char buffer[256];
    const ssize_t size = ::read(reader, buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer, std::max<ssize_t>(size, 0)), status == 200 ? exported : "");
    EXPECT_EQ(ReadFile(home / "other-name.json") + ReadFile(foreign), now + now);
    EXPECT_EQ(ReadFile(link) + ReadFile(longName), status == 200 ? now + now : "");
  }
  ::close(reader);
  EXPECT_EQ(result.out, exported);
  struct stat status {};
  ASSERT_EQ(::stat(foreign.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0604u);
  EXPECT_EQ(status.st_uid, root ? 65534u : ::geteuid());
  EXPECT_FALSE(Exists(home / "linked.json")) << "the link was replaced, not followed";
  EXPECT_EQ(Entries(home.Path()).size(), 7u) << "nothing appeared beside the targets";
}

// An import file that comes through a pipe, of unknown size, arrives whole; one too large for
// memory does not.
using ImportFile = ServerTest;

TEST_F(ImportFile, ThatComesThroughAPipeIsReadWholeButOneOverOneGibibyteIsRefused) {
  const std::string fifo = home / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  server.On("POST", "/api/v11/probe/custom/import/", Reply(200, R"({"result":[]})"));
  // Longer than any one read: the items start after 3 MiB of white space.
  std::thread writer([&] {
    std::ofstream(fifo) << R"({"probes":)" << std::string(3 << 20, ' ')
                        << R"([{"a":1}],"version":1})";
  });
  const ProcessResult result = RunAgainst({"import-probes", "-i", fifo});
  writer.join();
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(server.RequestsTo("POST", "/api/v11/probe/custom/import/").at(0).body,
            R"({"probes":[{"a":1}],"skip_overwrite":false,"version":1})");
  // One over 1 GiB, or one without end, is refused before anything is sent.
  const std::string large = home / "large.json";
  WriteFile(large, "");
  ASSERT_EQ(::truncate(large.c_str(), (1 << 30) + 1), 0);
  for (const std::string& name : {large, std::string("/dev/zero")}) {
    EXPECT_EQ(Showing(RunAgainst({"import-probes", "-i", name})),
              (Shown{4, "", "Failed to read the input file '" + name + "'\n"}));
  }
  EXPECT_EQ(server.Requests().size(), 3u);  // the login, import and release of the first run
}

using ListProbes = ServerTest;

TEST_F(ListProbes, PrintTheEnabledProbesOfTheCategoryOnePerLineAndReportOtherAnswersOnOneLine) {
  const std::string five = "[" + serverProbe(1, true, false) + "," + serverProbe(2, true, true) +
                           "," + serverProbe(3, false, false) + "," + serverProbe(4, true, false) +
                           "," + serverProbe(5, false, true) + "]";
  const std::string one = "[\n" + printedProbe(1, false) + ",\n", four = printedProbe(4, false);
  // A 1xx status is never final over HTTP/1.1, so 300 is the nearest failure below 200.
  const std::tuple<Flags, int, std::string, Shown> cases[] = {
      {{}, 299, five, {0, one + four + "\n]\n", ""}},
      {{"-c", "0"}, 201, five, {0, "[\n" + printedProbe(2, true) + "\n]\n", ""}},
      {{"--probe-category", "All"},
       200,
       five,
       {0, one + printedProbe(2, true) + ",\n" + four + "\n]\n", ""}},
      {{"-c", "2"}, 200, "[" + serverProbe(3, false, false) + "]", {0, "[]\n", ""}},
      {{}, 300, R"({"errormsg":"moved"})", {4, "", "HTTP (Error: 300): moved\n"}},
      {{}, 200, R"({"probes":[]})", {4, "", kParse}},
      {{}, 200, "[" + serverProbe(1, true, false) + R"(,{"id":2}])", {4, "", kParse}}};
  for (auto [args, status, body, shown] : cases) {
    server.On("GET", "/api/v11/probe/", Reply(status, body));
    args.insert(args.begin(), "list-probes");
    EXPECT_EQ(Showing(RunAgainst(args)), shown) << PrintToString(args) << body;
  }
  EXPECT_EQ(RunAgainst({"list-probes", "-c", "3"}).status, 105);
  EXPECT_EQ(Releases(), std::size(cases)) << "nothing is sent for an unknown category";
  EXPECT_THAT(Log(), HasSubstr("] Response Validation Error (virtual void "
                               "korv::cli::ListProbes::Perform()@"));
}

using ListAlertTemplates = ServerTest;

TEST_F(ListAlertTemplates, ShowACustomTemplateThatIsNotEnabled) {
  server.On("GET", "/api/v11/alert/template/",
            Reply(200, R"([{"default_check_frequency":5,"default_history_retention":30,)"
                       R"("description":"d","enabled":false,"high_threshold_value":"90","id":1,)"
                       R"("info_sql":"","is_auto_create":false,"is_system_template":false,)"
                       R"("low_threshold_value":"50","medium_threshold_value":"75","name":"t",)"
                       R"("object_type":"server","operator":">","probe_dependency_list":[]}])"));
  EXPECT_EQ(Lines(RunAgainst({"list-alert-templates", "-c", "custom"}).out).size(), 3u);
}

}  // namespace
}  // namespace korv::test
