#include "records/compact_json.h"

#include "common/string_utils.h"

namespace korv::compact {

void quoted(std::string& out, std::string_view text) {
  out += '"';
  string::appendEscaped(out, text, true);
  out += '"';
}

void quoted(Length& out, std::string_view text) {
  std::string escaped;
  quoted(escaped, text);
  out += std::string_view(escaped);
}

void value(std::string& out, const std::string& text) {
  quoted(out, text);
}

void value(std::string& out, const std::optional<std::string>& text) {
  if (text) {
    quoted(out, *text);
  } else {
    null(out);
  }
}

void value(std::string& out, const std::vector<std::string>& texts) {
  out += '[';
  for (std::size_t i = 0; i < texts.size(); ++i) {
    if (i > 0) {
      out += ',';
    }
    quoted(out, texts[i]);
  }
  out += ']';
}

void value(std::string& out, std::uint32_t value) {
  number(out, value);
}

void value(std::string& out, bool flag) {
  boolean(out, flag);
}

void key(std::string& out, std::string_view name, bool first) {
  out += first ? "{\"" : ",\"";
  out += name;
  out += "\":";
}

}  // namespace korv::compact
