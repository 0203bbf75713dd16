#include "common/compact_json.h"

namespace korv::compact {

namespace {

// Appends the value with control characters escaped, and '"' and '\' too when quoted is set.
void escaped(std::string& out, const std::string& value, bool quoted) {
  static const char kHex[] = "0123456789abcdef";
  for (const char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        out += quoted ? "\\\"" : "\"";
        break;
      case '\\':
        out += quoted ? "\\\\" : "\\";
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
        if (byte < 0x20) {
          out += "\\u00";
          out += kHex[byte >> 4];
          out += kHex[byte & 0xF];
        } else {
          out += c;
        }
    }
  }
}

}  // namespace

void value(std::string& out, const std::string& text) {
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
