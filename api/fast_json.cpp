#include "api/fast_json.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

#include <simdjson.h>

#include "api/record_stream.h"
#include "common/compact_json.h"

namespace korv::cli::api::fast {

namespace {

using simdjson::dom::element;
using simdjson::dom::element_type;

// The text's value; nothing when simdjson refuses the text. The parser's depth limit is the one
// parseText keeps.
std::optional<element> parse(simdjson::dom::parser& parser, const std::string& text) {
  if (parser.allocate(text.size(), kMaxNesting) != simdjson::SUCCESS) {
    return std::nullopt;
  }
  element root;
  if (parser.parse(text).get(root) != simdjson::SUCCESS) {
    return std::nullopt;
  }
  return root;
}

// The value of the object's last member of that key, as the library keeps it; nothing when there
// is none.
std::optional<element> lastMember(simdjson::dom::object object, std::string_view key) {
  std::optional<element> found;
  for (const auto field : object) {
    if (field.key == key) {
      found = field.value;
    }
  }
  return found;
}

template <typename Number>
void appendNumber(std::string& out, Number number) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
  out.append(digits, end);
}

bool writeCompact(element value, std::string& out);

// The library keeps an object's members sorted by key, a later member replacing an earlier one
// of the same key; most objects already come sorted, without repeats.
bool writeObject(simdjson::dom::object object, std::string& out) {
  bool sorted = true;
  std::string_view previous;
  bool first = true;
  for (const auto field : object) {
    if (!first && !(previous < field.key)) {
      sorted = false;
      break;
    }
    previous = field.key;
    first = false;
  }
  std::vector<simdjson::dom::key_value_pair> fields;
  if (!sorted) {
    for (const auto field : object) {
      fields.push_back(field);
    }
    std::stable_sort(fields.begin(), fields.end(),
                     [](const auto& a, const auto& b) { return a.key < b.key; });
    // Of the members of one key, the last stands.
    std::vector<simdjson::dom::key_value_pair> kept;
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (i + 1 == fields.size() || fields[i].key != fields[i + 1].key) {
        kept.push_back(fields[i]);
      }
    }
    fields.swap(kept);
  }
  out += '{';
  first = true;
  const auto write = [&](std::string_view key, element member) {
    if (!first) {
      out += ',';
    }
    first = false;
    compact::quoted(out, key);
    out += ':';
    return writeCompact(member, out);
  };
  if (sorted) {
    for (const auto field : object) {
      if (!write(field.key, field.value)) {
        return false;
      }
    }
  } else {
    for (const auto& field : fields) {
      if (!write(field.key, field.value)) {
        return false;
      }
    }
  }
  out += '}';
  return true;
}

// Appends the value as dump() writes it; false for a floating-point number, whose form this does
// not copy.
bool writeCompact(element value, std::string& out) {
  switch (value.type()) {
    case element_type::ARRAY: {
      out += '[';
      bool first = true;
      for (const element item : simdjson::dom::array(value)) {
        if (!first) {
          out += ',';
        }
        first = false;
        if (!writeCompact(item, out)) {
          return false;
        }
      }
      out += ']';
      return true;
    }
    case element_type::OBJECT:
      return writeObject(simdjson::dom::object(value), out);
    case element_type::INT64:
      appendNumber(out, value.get_int64().value_unsafe());
      return true;
    case element_type::UINT64:
      appendNumber(out, value.get_uint64().value_unsafe());
      return true;
    case element_type::STRING:
      compact::quoted(out, value.get_string().value_unsafe());
      return true;
    case element_type::BOOL:
      out += value.get_bool().value_unsafe() ? "true" : "false";
      return true;
    case element_type::NULL_VALUE:
      out += "null";
      return true;
    case element_type::DOUBLE:
      break;
  }
  return false;
}

std::optional<std::string> compact(element value, std::size_t sizeHint) {
  std::string out;
  out.reserve(sizeHint);
  if (!writeCompact(value, out)) {
    return std::nullopt;
  }
  return out;
}

// The "version" and the items array of an export; nothing for any other shape.
std::optional<std::pair<element, element>> exportMembers(element root,
                                                         const std::string& itemsKey) {
  if (!root.is_object()) {
    return std::nullopt;
  }
  const auto version = lastMember(simdjson::dom::object(root), "version");
  const auto items = lastMember(simdjson::dom::object(root), itemsKey);
  if (!version || !items || !items->is_array()) {
    return std::nullopt;
  }
  return std::make_pair(*version, *items);
}

std::optional<std::string> text(element value) {
  if (!value.is_string()) {
    return std::nullopt;
  }
  return std::string(value.get_string().value_unsafe());
}

// Sets the member from the value as the list reader's events would; false for a floating-point
// number.
bool fill(MemberValue& member, element value, bool textList) {
  switch (value.type()) {
    case element_type::NULL_VALUE:
      member.kind = MemberValue::Kind::Null;
      return true;
    case element_type::BOOL:
      member.kind = MemberValue::Kind::Boolean;
      member.boolean = value.get_bool().value_unsafe();
      return true;
    case element_type::INT64: {
      // The library reports a number without a sign as unsigned.
      const std::int64_t number = value.get_int64().value_unsafe();
      if (number < 0) {
        member.kind = MemberValue::Kind::Integer;
        member.integer = number;
      } else {
        member.kind = MemberValue::Kind::Unsigned;
        member.unsignedInteger = static_cast<std::uint64_t>(number);
      }
      return true;
    }
    case element_type::UINT64:
      member.kind = MemberValue::Kind::Unsigned;
      member.unsignedInteger = value.get_uint64().value_unsafe();
      return true;
    case element_type::STRING:
      member.kind = MemberValue::Kind::Text;
      member.text.assign(value.get_string().value_unsafe());
      return true;
    case element_type::ARRAY:
      member.kind = textList ? MemberValue::Kind::TextList : MemberValue::Kind::Other;
      member.texts.clear();
      for (const element item : simdjson::dom::array(value)) {
        if (member.kind != MemberValue::Kind::TextList) {
          break;
        }
        if (item.is_string()) {
          member.texts.emplace_back(item.get_string().value_unsafe());
        } else {
          member.kind = MemberValue::Kind::Other;
        }
      }
      return true;
    case element_type::OBJECT:
      member.kind = MemberValue::Kind::Other;
      return true;
    case element_type::DOUBLE:
      break;
  }
  return false;
}

}  // namespace

std::optional<std::string> compactDump(const std::string& text) {
  simdjson::dom::parser parser;
  const auto root = parse(parser, text);
  return root ? compact(*root, text.size()) : std::nullopt;
}

std::optional<std::string> compactExport(const std::string& text, const std::string& itemsKey) {
  simdjson::dom::parser parser;
  const auto root = parse(parser, text);
  if (!root || !exportMembers(*root, itemsKey)) {
    return std::nullopt;
  }
  return compact(*root, text.size());
}

std::optional<std::string> importRequest(
    const std::string& file, const std::string& itemsKey,
    const std::vector<std::pair<std::string_view, bool>>& switches) {
  simdjson::dom::parser parser;
  const auto root = parse(parser, file);
  const auto members = root ? exportMembers(*root, itemsKey) : std::nullopt;
  if (!members) {
    return std::nullopt;
  }
  // The request's members in the library's order, by key.
  struct Member {
    std::string_view key;
    std::optional<element> value;
    bool flag;  // the switch's value, for a member without a value
  };
  std::vector<Member> request{{itemsKey, members->second, false},
                              {"version", members->first, false}};
  for (const auto& [key, flag] : switches) {
    request.push_back({key, std::nullopt, flag});
  }
  std::sort(request.begin(), request.end(),
            [](const Member& a, const Member& b) { return a.key < b.key; });
  std::string body;
  body.reserve(file.size() + 64);
  bool first = true;
  for (const Member& member : request) {
    compact::key(body, member.key, first);
    first = false;
    if (!member.value) {
      body += member.flag ? "true" : "false";
    } else if (!writeCompact(*member.value, body)) {
      return std::nullopt;
    }
  }
  body += '}';
  return body;
}

std::optional<std::vector<Verdict>> importVerdicts(const std::string& answer) {
  simdjson::dom::parser parser;
  const auto root = parse(parser, answer);
  if (!root || !root->is_object()) {
    return std::nullopt;
  }
  const auto result = lastMember(simdjson::dom::object(*root), "result");
  if (!result || !result->is_array()) {
    return std::nullopt;
  }
  std::vector<Verdict> verdicts;
  for (const element entry : simdjson::dom::array(*result)) {
    if (!entry.is_object()) {
      return std::nullopt;
    }
    const simdjson::dom::object object(entry);
    const auto name = lastMember(object, "name");
    const auto status = lastMember(object, "status");
    const auto msg = lastMember(object, "msg");
    Verdict& verdict = verdicts.emplace_back();
    std::optional<std::string> nameText = name ? text(*name) : std::nullopt;
    std::optional<std::string> statusText = status ? text(*status) : std::nullopt;
    if (!nameText || !statusText) {
      return std::nullopt;
    }
    verdict.name = std::move(*nameText);
    verdict.status = std::move(*statusText);
    if (msg && !msg->is_null()) {
      verdict.msg = text(*msg);
      if (!verdict.msg) {
        return std::nullopt;
      }
    }
  }
  return verdicts;
}

bool readObjects(const std::string& text, const std::vector<std::string_view>& keys,
                 const std::vector<bool>& textLists, std::vector<MemberValue>& members,
                 const std::function<bool()>& check, const std::function<void()>& use) {
  simdjson::dom::parser parser;
  const auto root = parse(parser, text);
  if (!root || !root->is_array()) {
    return false;
  }
  const simdjson::dom::array items(*root);
  const auto fillAll = [&](element item) {
    if (!item.is_object()) {
      return false;
    }
    for (MemberValue& member : members) {
      member.kind = MemberValue::Kind::Missing;
    }
    for (const auto field : simdjson::dom::object(item)) {
      const auto at =
          field.key.empty() ? keys.end() : std::find(keys.begin(), keys.end(), field.key);
      if (at != keys.end()) {
        const auto index = static_cast<std::size_t>(at - keys.begin());
        if (!fill(members[index], field.value, textLists[index])) {
          return false;
        }
      }
    }
    return true;
  };
  for (const element item : items) {
    if (!fillAll(item) || !check()) {
      return false;
    }
  }
  for (const element item : items) {
    fillAll(item);
    use();
  }
  return true;
}

}  // namespace korv::cli::api::fast
