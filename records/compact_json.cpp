#include "records/compact_json.h"

#include "common/string_utils.h"

namespace korv::compact {

void value(std::string& out, const std::string& text) {
  quoted(out, text);
}

void quoted(std::string& out, std::string_view text) {
  out += '"';
  string::appendEscaped(out, text, true);
  out += '"';
}

void value(std::string& out, const std::optional<std::string>& text) {
  if (text) {
    value(out, *text);
  } else {
    out += "null";
  }
}

void value(std::string& out, const std::vector<std::string>& texts) {
  out += '[';
  for (size_t i = 0; i < texts.size(); ++i) {
    if (i > 0) {
      out += ',';
    }
    value(out, texts[i]);
  }
  out += ']';
}

void value(std::string& out, std::uint32_t number) {
  out += std::to_string(number);
}

void value(std::string& out, bool flag) {
  out += flag ? "true" : "false";
}

void key(std::string& out, std::string_view name, bool first) {
  out += first ? "{\"" : ",\"";
  out += name;
  out += "\":";
}

}  // namespace korv::compact
