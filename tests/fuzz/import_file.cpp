// Reading and checking an import file, for both record kinds. Every rejection must be a
// korv::FileError; an accepted file must hold the items and "version"; whether the text is JSON
// at all cannot depend on the items key.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "exchange/exchange.h"
#include "tests/fuzz/scratch_file.h"

namespace {

const korv::cli::api::ImportMessages kMessages{"no file", "missing '%s'", "not JSON",
                                               "'%s' lacks: version %s, items %s",
                                               "not importable '%s'"};

// Whether reading the file with this items key finds JSON in it.
bool readAsJson(const std::string& fileName, const std::string& itemsKey) {
  korv::cli::api::ImportSource source;
  source.SetFileName({fileName});
  try {
    const nlohmann::json document = source.Read(kMessages, KORV_HERE);
    if (!source.MissingFields(document, itemsKey, kMessages).empty()) {
      source.Refuse(kMessages, KORV_HERE);
    }
    if (!document.contains(itemsKey) || !document.contains("version")) {
      std::abort();
    }
  } catch (const korv::FileError& error) {
    return error.what() != std::string(kMessages.notJson);
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string file = korv::test::ScratchFileWith(data, size);
  if (readAsJson(file, "probes") != readAsJson(file, "alert_templates")) {
    std::abort();
  }
  return 0;
}
