// The plan of an import, in process: how the items of a file compare with a server's snapshot,
// which exports it reads for that, and what the backup holds.
#include <gtest/gtest.h>

#include <sstream>

#include "exchange/plan.h"

namespace korv::test {
namespace {

using namespace cli::api;
using nlohmann::json;

template <typename... Items>
json list(Items... items) {
  return json::array({items...});
}
json probe(const std::string& name, int interval, int id = 0) {
  json item{{"name", name}, {"interval", interval}};
  if (id != 0) {
    item["id"] = id;
  }
  return item;
}
json alertTemplate(const std::string& name, int x, json carried) {
  return {{"name", name}, {"x", x}, {"custom_probes", std::move(carried)}};
}
json exportOf(const Kind& kind, json items, const std::string& version = "11.0") {
  return {{kind.itemsKey, std::move(items)}, {"version", version}};
}
// The export read from its compact text, or from its document where that way declines it.
ExportIndex indexOf(const Kind& kind, const json& document) {
  auto text = std::make_shared<std::string>(document.dump());
  text->reserve(text->size() + 64);
  ExportIndex index;
  if (!index.Read(*text, text->capacity() - text->size(), text, kind.itemsKey, kind.carriedKey)) {
    index.Take(document, kind.itemsKey, kind.carriedKey);
  }
  return index;
}
std::string backupOf(const Plan& plan, Target& target) {
  std::string text;
  backup(plan, target, [&text](std::string_view part) { text += part; });
  return text;
}

// A server with custom probes a, b and d, and templates t (carrying b, then a) and u; it counts
// the exports it is asked for.
struct Server {
  int reads = 0;
  Target target{[this](const Kind& kind) {
    ++reads;
    const json t = alertTemplate("t", 1, list(probe("b", 2, 6), probe("a", 1, 5)));
    return indexOf(
        kind, &kind == &kProbes
                  ? exportOf(kProbes, list(probe("a", 1, 5), probe("b", 2, 6), probe("d", 4, 7)))
                  : exportOf(kAlertTemplates, list(t, alertTemplate("u", 1, list()))));
  }};
};

// "name change fields", a carried probe marked with "+".
std::string rowsOf(const Plan& plan) {
  std::string text;
  for (const auto& row : plan.rows) {
    text += std::string(text.empty() ? "" : ", ") + (row.carriedProbe ? "+" : "") +
            std::string(row.Name()) + " " + changeText(row.change);
    for (const FieldChange& field : row.fields) {
      text.append(" ").append(field.Name());
    }
  }
  return text;
}

TEST(Plan, PrintsShortPlainValuesOfAChangedFieldAndCountsTheRowsByChange) {
  const ItemText a{R"({"name":"a"})", "a"}, b{R"({"name":"b"})", "b"};
  const std::string longText(41, 'x');
  Plan plan{&kProbes,
            {{&a,
              {{"interval", "3600", "120"},
               {"level", "", "\"L\u0001\""},
               {"tags", "[\"x\"]", "[]"},
               {"text", "1", "\"" + longText + "\""}},
              Change::Changed},
             {&b, {}, Change::New},
             {&b, {}, Change::New, true}}};
  std::ostringstream out;
  printPlan(out, plan, {"test", 0});
  EXPECT_EQ(out.str(),
            "Name, Change, Detail\n====, ======, ======\n"
            "a, changed, interval 3600 \u2192 120, level (none) \u2192 \"L\\u0001\", tags changed, "
            "text changed\n"
            "b, new, not on the server\nProbe 'b', new, not on the server\n2 new, 1 changed\n");
}

TEST(Plan, ComparesTheFilesLastItemOfEachNameAndTheCarriedProbesReadingEachExportOnceAtMost) {
  // The kind, its items, the switches, whether the import of the probes c and a (changed) goes
  // first, as in a migrate; then the rows and the exports read.
  const Switches none, keep{true, false}, keepProbes{false, true};
  const std::tuple<const Kind&, json, Switches, bool, std::string, int> cases[] = {
      {kProbes, list(probe("a", 1, 99), probe("b", 1), probe("c", 1), probe("b", 3)), none, false,
       "a unchanged, b changed interval, c new, d server only", 1},
      {kProbes, list(probe("a", 3), probe("c", 1)), keep, false,
       "a skipped, c new, b server only, d server only", 1},
      // Probes that the server's templates carry need no export of its probes; others do.
      {kAlertTemplates, list(alertTemplate("t", 2, list(probe("a", 1)))), none, false,
       "t changed x, +a unchanged, u server only", 1},
      {kAlertTemplates,
       list(alertTemplate("u", 1, list(probe("a", 2), probe("c", 1), probe("a", 1)))), none, false,
       "u unchanged, +a unchanged, +c new, t server only", 2},
      {kAlertTemplates, list(alertTemplate("u", 1, list(probe("a", 9), probe("d", 1)))), keepProbes,
       false, "u unchanged, +a skipped, +d skipped, t server only", 2},
      {kAlertTemplates, list(alertTemplate("t", 1, list(probe("a", 9), probe("c", 1)))), none, true,
       "t unchanged, +a unchanged, +c unchanged, u server only", 2},
      {kAlertTemplates, list(alertTemplate("t", 1, list(probe("c", 1)))), keepProbes, true,
       "t unchanged, +c skipped, u server only", 2}};
  for (const auto& [kind, items, switches, afterProbes, rows, reads] : cases) {
    Server server;
    const ExportIndex probes =
                          indexOf(kProbes, exportOf(kProbes, list(probe("c", 1), probe("a", 9)))),
                      file = indexOf(kind, exportOf(kind, items));
    const Plan before =
        afterProbes ? makePlan(kProbes, probes, server.target, {}, nullptr, KORV_HERE) : Plan{};
    const Plan plan =
        makePlan(kind, file, server.target, switches, afterProbes ? &before : nullptr, KORV_HERE);
    EXPECT_EQ(rowsOf(plan), rows) << items;
    EXPECT_EQ(server.reads, reads) << items;
  }
  // Data of another major version, and items without a name, are refused.
  for (const json& file :
       {exportOf(kProbes, list(probe("a", 1)), "12.1"),
        exportOf(kProbes, list(probe("a", 1), json{{"interval", 1}})),
        exportOf(kAlertTemplates, list(alertTemplate("t", 1, list(1)))),
        exportOf(kAlertTemplates, list(alertTemplate("t", 1, json::object())))}) {
    Server server;
    const Kind& kind = file.contains("probes") ? kProbes : kAlertTemplates;
    EXPECT_THROW(makePlan(kind, indexOf(kind, file), server.target, {}, nullptr, KORV_HERE), Error)
        << file;
  }
}

TEST(ExportIndex, TakesTheCompactFormAsItStandsAndFindsEachItemAndCarriedProbeInIt) {
  // An export, and whether it is taken as it stands: the library's compact form, without
  // floating-point numbers and names that need escapes.
  std::vector<std::pair<std::string, bool>> cases = {
      {R"({"probes":[{"name":"a","s":"x\\"},{"name":"b","s":"},{\""}],"version":"1"})", true},
      {R"({"probes":[{"name":"a","s":"\u001f\t"},{"n":{"m":[{}]},"name":"b"}],"version":1})", true},
      {R"({"alert_templates":[{"custom_probes":[{"name":"p"},{"name":"q","s":"}]"}],"name":"t"}],)"
       R"("version":"1"})",
       true},
      {R"({"probes":[{"name":"a","s":"\u0041"}],"version":"1"})", false},
      {R"({"probes":[{"name":"a","b":1}],"version":"1"})", false},
      {R"({"probes":[{"name":"a\\"}],"version":"1"})", false},
      {R"({"probes":[{"name":"a","x":1.5}],"version":"1"})", false},
      {R"({"probes":[{"name":"a", "x":1}],"version":"1"})", false}};
  // A long one, whose halves are read at once; a "},{" in a name of the first half ends no item.
  json many = json::array();
  for (int i = 0; i < 20000; ++i) {
    many.push_back(
        alertTemplate((i < 5000 ? "},{" : "t") + std::to_string(i), i, list(probe("p", i))));
  }
  cases.emplace_back(exportOf(kAlertTemplates, many).dump(), true);
  for (const auto& [text, taken] : cases) {
    const Kind& kind = text.find("\"probes\"") == 1 ? kProbes : kAlertTemplates;
    const std::string padded = text + std::string(64, ' ');
    ExportIndex index;
    const bool read = index.Read(std::string_view(padded).substr(0, text.size()), 64, nullptr,
                                 kind.itemsKey, kind.carriedKey);
    EXPECT_EQ(read, taken) << text.substr(0, 100);
    const json items = read && taken ? json::parse(text).at(kind.itemsKey) : json::array();
    for (std::size_t i = 0; i < items.size(); ++i) {
      EXPECT_EQ(index.Items()[i].text, items[i].dump());
      EXPECT_EQ(index.Items()[i].name, items[i].at("name"));
      const json carried = items[i].value("custom_probes", json::array());
      for (std::size_t j = 0; j < carried.size(); ++j) {
        EXPECT_EQ(index.Carried(index.Items()[i].firstCarried + j).text, carried[j].dump());
      }
    }
  }
}

TEST(Backup, HoldsTheServersVersionsOfWhatTheImportOverwritesInTheServersOrder) {
  Server server;
  const ExportIndex probes =
      indexOf(kProbes, exportOf(kProbes, list(probe("d", 1), probe("c", 1), probe("a", 1))));
  Plan plan = makePlan(kProbes, probes, server.target, {}, nullptr, KORV_HERE);
  EXPECT_EQ(backupOf(plan, server.target),
            exportOf(kProbes, list(probe("a", 1, 5), probe("d", 4, 7))).dump());
  plan.resend = false;  // the unchanged a is not sent again
  EXPECT_EQ(backupOf(plan, server.target), exportOf(kProbes, list(probe("d", 4, 7))).dump());
  plan = makePlan(kProbes, probes, server.target, {true, false}, nullptr, KORV_HERE);
  EXPECT_EQ(backupOf(plan, server.target), exportOf(kProbes, json::array()).dump());

  // The carried probes from the templates' export, in the order of their ids.
  Server other;
  const ExportIndex file = indexOf(
      kAlertTemplates,
      exportOf(kAlertTemplates, list(alertTemplate("t", 2, list(probe("b", 9), probe("a", 9))))));
  json expected = exportOf(kAlertTemplates,
                           list(alertTemplate("t", 1, list(probe("b", 2, 6), probe("a", 1, 5)))));
  expected["probes"] = list(probe("a", 1, 5), probe("b", 2, 6));
  plan = makePlan(kAlertTemplates, file, other.target, {}, nullptr, KORV_HERE);
  EXPECT_EQ(backupOf(plan, other.target), expected.dump());
  EXPECT_EQ(other.reads, 1);
}

}  // namespace
}  // namespace korv::test
