#include "common/compact_json.h"

namespace korv::compact {

namespace {

// Appends the value with control characters escaped, and '"' and '\' too when quoted is set. Runs
// of bytes that stay as they are go in at once.
void escaped(std::string& out, std::string_view value, bool quoted) {
  static const char kHex[] = "0123456789abcdef";
  std::size_t plain = 0;  // where the run of bytes not yet appended starts
  for (std::size_t i = 0; i < value.size(); ++i) {
    const auto byte = static_cast<unsigned char>(value[i]);
    if (byte >= 0x20 && !(quoted && (byte == '"' || byte == '\\'))) {
      continue;
    }
    out.append(value, plain, i - plain);
    plain = i + 1;
    switch (byte) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        out += "\\u00";
        out += kHex[byte >> 4];
        out += kHex[byte & 0xF];
    }
  }
  out.append(value, plain, value.size() - plain);
}

}  // namespace

void value(std::string& out, const std::string& text) {
  quoted(out, text);
}

void quoted(std::string& out, std::string_view text) {
  out += '"';
  escaped(out, text, true);
  out += '"';
}

void escapedControls(std::string& out, const std::string& value) {
  escaped(out, value, false);
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
