// The fast way through exports, import files and import answers against the JSON library's way:
// whatever the fast way gives for a text, the library must give the same from the same text, byte
// for byte, and the fast way may only take texts that the library takes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "exchange/exchange.h"
#include "records/fast_json.h"

namespace {

namespace api = korv::cli::api;
using nlohmann::json;

using api::fast::kSpare;

void expect(bool agree, const char* what, std::string_view text) {
  if (!agree) {
    std::fprintf(stderr, "%s disagrees on: %.*s\n", what, static_cast<int>(text.size()),
                 text.data());
    std::abort();
  }
}

// The verdicts as the import reads them with the library; nothing where it would fail.
std::optional<std::vector<api::fast::Verdict>> libraryVerdicts(const json& answer) {
  try {
    std::vector<api::fast::Verdict> verdicts;
    for (const json& entry : answer.at("result").get_ref<const json::array_t&>()) {
      auto& verdict = verdicts.emplace_back();
      verdict.name = entry.at("name").get<std::string>();
      verdict.status = entry.at("status").get<std::string>();
      if (entry.contains("msg") && !entry.at("msg").is_null()) {
        verdict.msg = entry.at("msg").get<std::string>();
      }
    }
    return verdicts;
  } catch (const json::exception&) {
    return std::nullopt;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The text is followed by readable bytes that would end it early, were they read as its own.
  const std::string padded =
      std::string(reinterpret_cast<const char*>(data), size) + std::string(kSpare, '"');
  const std::string_view text(padded.data(), size);
  const std::optional<json> document = api::parseText(text);
  for (const std::string key : {"probes", "alert_templates"}) {
    const bool complete = document && api::findExportMembers(*document, key).Complete();
    std::string exported;
    const bool taken = api::fast::compactExport(
        text, kSpare, key, [&](std::string_view block) { exported.append(block); });
    expect(taken ? complete && exported == document->dump() : exported.empty(), "compactExport",
           text);

    // The file's text with the same bytes after it, within its capacity.
    std::string file = padded;
    file.resize(size);
    api::fast::ImportRequest request;
    if (request.Prepare(file, key, {{"skip_overwrite_probe", false}, {"skip_overwrite", true}})) {
      expect(complete, "importRequest", text);
      json payload;
      payload["version"] = document->at("version");
      payload["skip_overwrite_probe"] = false;
      payload["skip_overwrite"] = true;
      payload[key] = document->at(key);
      // Written part by part as it is sent, then again (as when libcurl rewinds it) into one text
      // as the debug log gathers it: whole, as long as announced, every part adding to it.
      for (const bool gathered : {false, true}) {
        std::string body, part;
        std::string& out = gathered ? body : part;
        request.Restart();
        for (std::size_t had = out.size(); request.Next(out); had = out.size()) {
          expect(out.size() > had, "importRequest (a part adds nothing)", text);
          body += part;
          part.clear();
        }
        expect(body == payload.dump() && body.size() == request.Size(), "importRequest", text);
      }
    }
  }

  std::vector<api::fast::Verdict> verdicts;
  if (api::fast::importVerdicts(text, kSpare,
                                [&](const api::fast::Verdict& v) { verdicts.push_back(v); })) {
    const auto expected = document ? libraryVerdicts(*document) : std::nullopt;
    bool same = expected && expected->size() == verdicts.size();
    for (std::size_t i = 0; same && i < verdicts.size(); ++i) {
      const auto &a = verdicts[i], &b = (*expected)[i];
      same = a.name == b.name && a.status == b.status && a.msg == b.msg;
    }
    expect(same, "importVerdicts", text);
  } else {
    expect(verdicts.empty(), "importVerdicts", text);
  }
  return 0;
}
