#include "records/export_index.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <deque>
#include <system_error>
#include <thread>

#include <simdjson.h>

#include "common/scope.h"
#include "records/compact_json.h"
#include "records/json_text.h"
#include "records/record_stream.h"

namespace korv::cli::api {

namespace {

using text::closingQuote;
using text::isSpace;
using text::valueEnd;

using simdjson::dom::element;
using simdjson::dom::element_type;

constexpr std::size_t kNone = std::string_view::npos;

// A text's place in a piece of text.
struct Span {
  std::size_t at = 0;
  std::size_t size = 0;
};

// An item read from a piece of text: where its text and name stand in it.
struct Written {
  ItemText item;
  Span text;
  Span name;
};

// Checks that a text is the library's compact form of the value read from it, token by token.
class CompactCheck {
 public:
  explicit CompactCheck(std::string_view text) : text(text) {}

  // Whether all of the text is checked.
  bool Done() const { return at == text.size(); }

  // False for a floating-point number, whose form this does not copy, and for an object whose
  // keys are not in order or not each once, which the library would change.
  bool Value(element value) {
    switch (value.type()) {
      case element_type::ARRAY: {
        if (!Take("[")) {
          return false;
        }
        bool first = true;
        for (const element item : simdjson::dom::array(value)) {
          if ((!first && !Take(",")) || !Value(item)) {
            return false;
          }
          first = false;
        }
        return Take("]");
      }
      case element_type::OBJECT: {
        std::string_view last;
        bool first = true;
        for (const auto field : simdjson::dom::object(value)) {
          if (!Key(field.key, last, first) || !Value(field.value)) {
            return false;
          }
        }
        return Take(first ? "{}" : "}");
      }
      case element_type::INT64:
        return Number(value.get_int64().value_unsafe());
      case element_type::UINT64:
        return Number(value.get_uint64().value_unsafe());
      case element_type::STRING:
        return String(value.get_string().value_unsafe());
      case element_type::BOOL:
        return Take(value.get_bool().value_unsafe() ? "true" : "false");
      case element_type::NULL_VALUE:
        return Take("null");
      case element_type::DOUBLE:
        break;
    }
    return false;
  }

  // Checks an item as Value does, noting where its text and name stand, its order and, under
  // carriedKey (unless empty), the probes it carries; false also for an item without a name
  // that needs no escapes.
  bool Item(element value, std::string_view carriedKey, Written& written,
            std::vector<Written>& carried) {
    if (value.type() != element_type::OBJECT) {
      return false;
    }
    written.text.at = at;
    std::string_view last;
    bool first = true;
    for (const auto field : simdjson::dom::object(value)) {
      if (!Key(field.key, last, first)) {
        return false;
      }
      const element member = field.value;
      if (field.key == "name" && member.type() == element_type::STRING) {
        const std::string_view name = member.get_string().value_unsafe();
        written.name = {at + 1, name.size()};
        if (!String(name)) {
          return false;
        }
        written.item.named = at == written.name.at + name.size() + 1;
        continue;
      }
      if (field.key == "id") {
        if (member.type() == element_type::UINT64) {
          written.item.order = member.get_uint64().value_unsafe();
        } else if (member.type() == element_type::INT64 && member.get_int64().value_unsafe() >= 0) {
          written.item.order = static_cast<std::uint64_t>(member.get_int64().value_unsafe());
        }
      }
      if (carriedKey.empty() || field.key != carriedKey) {
        if (!Value(member)) {
          return false;
        }
        continue;
      }
      if (member.type() != element_type::ARRAY || !Take("[")) {
        return false;
      }
      written.item.carried = ItemText::Carried::Array;
      written.item.firstCarried = static_cast<std::uint32_t>(carried.size());
      for (const element probe : simdjson::dom::array(member)) {
        if (written.item.carriedCount++ > 0 && !Take(",")) {
          return false;
        }
        Written probeWritten;
        if (!Item(probe, "", probeWritten, carried)) {
          return false;
        }
        carried.push_back(probeWritten);
      }
      if (!Take("]")) {
        return false;
      }
    }
    if (!Take(first ? "{}" : "}")) {
      return false;
    }
    written.text.size = at - written.text.at;
    return written.item.named;
  }

 private:
  // Whether the expected text comes next; then it is passed.
  bool Take(std::string_view expected) {
    if (text.compare(at, expected.size(), expected) != 0) {
      return false;
    }
    at += expected.size();
    return true;
  }

  bool Key(std::string_view key, std::string_view& last, bool& first) {
    if (!first && !(last < key)) {
      return false;
    }
    const bool taken = Take(first ? "{" : ",") && String(key) && Take(":");
    last = key;
    first = false;
    return taken;
  }

  // Where the text read is the value's bytes and then a quote, it holds no escape (the bytes
  // of a text with escapes that could agree with its value are followed by a backslash), and the
  // library writes the value as it stands: simdjson refuses control characters not escaped. Any
  // other is compared with the value's escaped form.
  bool String(std::string_view value) {
    const std::size_t end = at + 1 + value.size();
    if (end < text.size() && text[at] == '"' && text[end] == '"' &&
        text.compare(at + 1, value.size(), value) == 0) {
      at = end + 1;
      return true;
    }
    escaped.clear();
    compact::quoted(escaped, value);
    return Take(escaped);
  }

  template <typename Integer>
  bool Number(Integer number) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
    return Take(std::string_view(digits, static_cast<std::size_t>(end - digits)));
  }

  std::string_view text;
  std::size_t at = 0;
  std::string escaped;
};

// Reads pieces of a text with simdjson, where they stand when the text has room enough after it.
class Pieces {
 public:
  explicit Pieces(std::size_t spare) : copy(spare < simdjson::SIMDJSON_PADDING) {}

  // The piece read, when it is JSON within the nesting that the whole text may have.
  std::optional<element> Read(std::string_view piece) {
    if (!ready) {
      // A piece stands at most two levels down in the export.
      ready = parser.allocate(4096, kMaxNesting - 2) == simdjson::SUCCESS;
    }
    element value;
    if (!ready || parser.parse(piece.data(), piece.size(), copy).get(value) != simdjson::SUCCESS) {
      return std::nullopt;
    }
    return value;
  }

 private:
  bool copy;
  bool ready = false;
  simdjson::dom::parser parser;
};

// Whether the value holds a floating-point number.
bool holdsFloat(const nlohmann::json& value) {
  if (value.is_number_float()) {
    return true;
  }
  if (value.is_structured()) {
    for (const auto& member : value) {
      if (holdsFloat(member)) {
        return true;
      }
    }
  }
  return false;
}

// The members of an object's compact text one at a time, with their keys unescaped.
class MemberReader {
 public:
  // Reads from the member that starts at `at`.
  MemberReader(std::string_view text, std::size_t at) : text(text), at(at) {}

  std::string_view key;
  std::string_view value;

  // Where the text after the member read starts.
  std::size_t At() const { return at; }

  bool Next() {
    if (at >= text.size() || text[at] != '"') {
      return false;
    }
    const std::size_t keyEnd = closingQuote(text, at);
    key = text.substr(at + 1, keyEnd - at - 1);
    if (key.find('\\') != kNone) {
      unescaped = nlohmann::json::parse(text.substr(at, keyEnd + 1 - at)).get<std::string>();
      key = unescaped;
    }
    const std::size_t end = valueEnd(text, keyEnd + 2);
    value = text.substr(keyEnd + 2, end - keyEnd - 2);
    at = end + 1;
    return true;
  }

 private:
  std::string_view text;
  std::size_t at;
  std::string unescaped;
};

// Whether the piece is the compact form of an item, with what it carries.
bool compactItem(Pieces& pieces, std::string_view piece, std::string_view carriedKey, Written& item,
                 std::vector<Written>& probes) {
  const auto value = pieces.Read(piece);
  CompactCheck check(piece);
  return value && check.Item(*value, carriedKey, item, probes) && check.Done();
}

// Reads the items of an array from `at`, its '[' or the ',' before an item, up to the end of the
// array or to the separator at `stop`; returns where it stopped (the array's end, a separator
// or what else follows an item), none where an item is not in the compact form.
std::size_t readItems(std::string_view text, std::size_t at, std::size_t stop, Pieces& pieces,
                      std::string_view carriedKey, std::vector<ItemText>& items,
                      std::vector<ItemText>& carried) {
  do {
    ++at;
    // Most items hold no object: they end at their first '}' that a separator follows. Where
    // the text up to there is no item, the item's end is looked for from its start.
    const void* brace = std::memchr(text.data() + at, '}', text.size() - at);
    std::size_t end =
        brace == nullptr
            ? kNone
            : static_cast<std::size_t>(static_cast<const char*>(brace) - text.data()) + 1;
    Written item;
    std::vector<Written> probes;
    if (end >= text.size() || (text[end] != ',' && text[end] != ']') ||
        !compactItem(pieces, text.substr(at, end - at), carriedKey, item, probes)) {
      item = {};
      probes.clear();
      end = valueEnd(text, at);
      if (end == kNone || end >= text.size() ||
          !compactItem(pieces, text.substr(at, end - at), carriedKey, item, probes)) {
        return kNone;
      }
    }
    const std::string_view piece = text.substr(at, end - at);
    item.item.text = piece;
    item.item.name = piece.substr(item.name.at, item.name.size);
    item.item.firstCarried = static_cast<std::uint32_t>(carried.size());
    items.push_back(item.item);
    for (const Written& probe : probes) {
      carried.push_back(probe.item);
      carried.back().text = piece.substr(probe.text.at, probe.text.size);
      carried.back().name = piece.substr(probe.name.at, probe.name.size);
    }
    at = end;
  } while (at != stop && text[at] == ',');
  return at;
}

// Reads the items of an array as readItems does, from its '[' to its end.
std::size_t readArray(std::string_view text, std::size_t at, std::size_t spare, Pieces& pieces,
                      std::string_view carriedKey, std::vector<ItemText>& items,
                      std::vector<ItemText>& carried) {
  // A long array is read in two halves at once: the second from the item after the first "},{"
  // past its middle. That counts only when the first half ends there, at an item's end;
  // otherwise the first half goes on to the end of the array.
  constexpr std::size_t kHalvedFrom = 1 << 20;
  std::size_t split = kNone;
  if (text.size() - at > kHalvedFrom) {
    const std::string_view middle = text.substr(at + (text.size() - at) / 2);
    if (const std::size_t found = middle.find("},{"); found != kNone) {
      split = static_cast<std::size_t>(middle.data() - text.data()) + found + 1;
    }
  }
  std::vector<ItemText> laterItems, laterCarried;
  std::size_t laterEnd = kNone;
  std::thread later;
  if (split != kNone) {
    try {
      later = std::thread([&] {
        try {
          Pieces own(spare);
          laterEnd = readItems(text, split, kNone, own, carriedKey, laterItems, laterCarried);
        } catch (...) {
          laterEnd = kNone;  // the first half reads it again
        }
      });
    } catch (const std::system_error&) {
      split = kNone;
    }
  }
  const Scope joined([&later] {
    if (later.joinable()) {
      later.join();
    }
  });
  at = readItems(text, at, split, pieces, carriedKey, items, carried);
  if (later.joinable()) {
    later.join();
  }
  if (at == kNone || at != split) {
    return at;
  }
  if (laterEnd == kNone) {
    return readItems(text, at, kNone, pieces, carriedKey, items, carried);
  }
  for (ItemText& item : laterItems) {
    item.firstCarried += static_cast<std::uint32_t>(carried.size());
  }
  items.insert(items.end(), laterItems.begin(), laterItems.end());
  carried.insert(carried.end(), laterCarried.begin(), laterCarried.end());
  return laterEnd;
}

// How many bytes two texts start with in common.
std::size_t commonStart(std::string_view one, std::string_view other) {
  const std::size_t size = std::min(one.size(), other.size());
  std::size_t at = 0;
  // Eight bytes at a time up to the word that differs, then byte by byte.
  while (at + 8 <= size) {
    std::uint64_t mine = 0, theirs = 0;
    std::memcpy(&mine, one.data() + at, 8);
    std::memcpy(&theirs, other.data() + at, 8);
    if (mine != theirs) {
      break;
    }
    at += 8;
  }
  while (at < size && one[at] == other[at]) {
    ++at;
  }
  return at;
}

}  // namespace

ObjectWriter::ObjectWriter(std::vector<ObjectMember> given) {
  std::stable_sort(given.begin(), given.end(),
                   [](const ObjectMember& a, const ObjectMember& b) { return a.key < b.key; });
  for (std::size_t i = 0; i < given.size(); ++i) {
    if (i + 1 == given.size() || given[i].key != given[i + 1].key) {
      members.push_back(std::move(given[i]));
    }
  }
  std::string key;
  size = members.empty() ? 2 : 1;
  for (const ObjectMember& each : members) {
    key.clear();
    compact::quoted(key, each.key);
    size += key.size() + 2 + each.value.size();
    if (each.items != nullptr) {
      size += 2 + (each.items->empty() ? 0 : each.items->size() - 1);
      for (const std::string_view text : *each.items) {
        size += text.size();
      }
    }
  }
}

bool ObjectWriter::Next(std::string& out) {
  // How much text gathers in a block.
  constexpr std::size_t kBlock = 1 << 18;
  if (done) {
    return false;
  }
  const std::size_t start = out.size();
  while (out.size() - start < kBlock && member < members.size()) {
    const ObjectMember& each = members[member];
    if (item == 0) {
      out += member == 0 ? '{' : ',';
      compact::quoted(out, each.key);
      out += ':';
      out += each.value;
      if (each.items != nullptr) {
        out += '[';
      }
    }
    const std::size_t count = each.items == nullptr ? 0 : each.items->size();
    // At least one item follows the key, so that a block that stops among the items has written
    // the key.
    for (; item < count && (item == 0 || out.size() - start < kBlock); ++item) {
      if (item > 0) {
        out += ',';
      }
      out += (*each.items)[item];
    }
    if (item < count) {
      // The first item is written: `item` is no longer 0, so the key is not written again.
      return true;
    }
    if (each.items != nullptr) {
      out += ']';
    }
    ++member;
    item = 0;
  }
  if (member == members.size()) {
    out += members.empty() ? "{}" : "}";
    done = true;
  }
  return true;
}

void ObjectWriter::WriteAll(const Sink& write) {
  std::string block;
  while (Next(block)) {
    write(block);
    block.clear();
  }
}

bool ExportIndex::Read(std::string_view text, std::size_t spare, std::shared_ptr<const void> owner,
                       std::string_view itemsKey, const char* carriedKey) {
  if (Index(text, spare, itemsKey, carriedKey == nullptr ? "" : carriedKey)) {
    this->owner = std::move(owner);
    return true;
  }
  members.clear();
  items.clear();
  carried.clear();
  return false;
}

bool ExportIndex::Index(std::string_view text, std::size_t spare, std::string_view itemsKey,
                        std::string_view carriedKey) {
  Pieces pieces(spare);
  // Whether the piece is the compact form of a value.
  const auto compact = [&](std::string_view piece) {
    const auto value = pieces.Read(piece);
    CompactCheck check(piece);
    return value && check.Value(*value) && check.Done();
  };
  const auto skipSpace = [&](std::size_t at) {
    while (at < text.size() && isSpace(text[at])) {
      ++at;
    }
    return at;
  };
  // The end of the value that starts at `at`, when something follows it.
  const auto pieceEnd = [&](std::size_t at) {
    const std::size_t end = valueEnd(text, at);
    return end == kNone || end >= text.size() ? kNone : end;
  };

  std::size_t at = skipSpace(0);
  if (at >= text.size() || text[at] != '{') {
    return false;
  }
  std::string_view lastKey;
  bool first = true;
  bool itemsFound = false;
  do {
    ++at;
    const std::size_t keyEnd = at < text.size() && text[at] == '"' ? closingQuote(text, at) : kNone;
    if (keyEnd == kNone || keyEnd + 1 >= text.size() || text[keyEnd + 1] != ':') {
      return false;
    }
    // Keys that need no escapes, in order and each once, as the library writes them.
    const std::string_view key = text.substr(at + 1, keyEnd - at - 1);
    if (std::any_of(key.begin(), key.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == '\\'; }) ||
        (!first && !(lastKey < key))) {
      return false;
    }
    lastKey = key;
    first = false;
    at = keyEnd + 2;
    if (key != itemsKey) {
      const std::size_t end = pieceEnd(at);
      if (end == kNone || !compact(text.substr(at, end - at))) {
        return false;
      }
      members.push_back({std::string(key), text.substr(at, end - at)});
      at = end;
      continue;
    }
    if (at >= text.size() || text[at] != '[') {
      return false;
    }
    itemsFound = true;
    if (at + 1 < text.size() && text[at + 1] == ']') {
      at += 2;
      continue;
    }
    at = readArray(text, at, spare, pieces, carriedKey, items, carried);
    if (at == kNone || text[at] != ']') {
      return false;
    }
    ++at;
  } while (at < text.size() && text[at] == ',');
  return at < text.size() && text[at] == '}' && skipSpace(at + 1) == text.size() && itemsFound &&
         !Member("version").empty();
}

void ExportIndex::Take(const nlohmann::json& document, std::string_view itemsKey,
                       const char* carriedKey) {
  auto texts = std::make_shared<std::deque<std::string>>();
  owner = texts;
  const auto keep = [&](std::string text) -> std::string_view {
    return texts->emplace_back(std::move(text));
  };
  const auto describe = [&](const nlohmann::json& item) {
    ItemText described;
    described.text = keep(item.dump());
    described.floats = holdsFloat(item);
    if (!item.is_object()) {
      return described;
    }
    const auto name = item.find("name");
    if (name != item.end() && name->is_string()) {
      described.named = true;
      described.name = keep(name->get<std::string>());
    }
    const auto id = item.find("id");
    if (id != item.end() && id->is_number_unsigned()) {
      described.order = id->get<std::uint64_t>();
    }
    return described;
  };

  for (const auto& member : document.items()) {
    if (member.key() != itemsKey) {
      members.push_back({member.key(), keep(member.value().dump())});
    }
  }
  for (const nlohmann::json& item : document.at(std::string(itemsKey))) {
    items.push_back(describe(item));
    const auto probes =
        carriedKey != nullptr && item.is_object() ? item.find(carriedKey) : item.end();
    if (probes == item.end()) {
      continue;
    }
    if (!probes->is_array()) {
      items.back().carried = ItemText::Carried::NotArray;
      continue;
    }
    items.back().carried = ItemText::Carried::Array;
    items.back().firstCarried = static_cast<std::uint32_t>(carried.size());
    items.back().carriedCount = static_cast<std::uint32_t>(probes->size());
    for (const nlohmann::json& probe : *probes) {
      carried.push_back(describe(probe));
    }
  }
}

std::string_view ExportIndex::Member(std::string_view key) const {
  for (const ObjectMember& member : members) {
    if (member.key == key) {
      return member.value;
    }
  }
  return "";
}

void ExportIndex::Write(std::string_view itemsKey, const Sink& write) const {
  std::vector<std::string_view> texts;
  texts.reserve(items.size());
  for (const ItemText& item : items) {
    texts.push_back(item.text);
  }
  std::vector<ObjectMember> all = members;
  all.push_back({std::string(itemsKey), {}, &texts});
  ObjectWriter(std::move(all)).WriteAll(write);
}

std::vector<MemberDifference> differingMembers(const ItemText& one, const ItemText& other,
                                               const std::vector<std::string_view>& ignored) {
  const auto differ = [&](std::string_view mine, std::string_view theirs) {
    if (mine == theirs) {
      return false;
    }
    // Texts of values without floating-point numbers are equal exactly when the values are.
    return !(one.floats || other.floats) ||
           nlohmann::json::parse(mine) != nlohmann::json::parse(theirs);
  };
  const auto compared = [&](std::string_view key) {
    return std::find(ignored.begin(), ignored.end(), key) == ignored.end();
  };
  std::vector<MemberDifference> fields;
  if (one.text == other.text) {
    return fields;
  }
  // The members that end where the texts still agree are equal: they are read on one side only.
  const std::size_t common = commonStart(one.text, other.text);
  std::size_t start = 1;
  for (MemberReader reader(one.text, start); reader.Next() && reader.At() <= common;) {
    start = reader.At();
  }
  MemberReader mine(one.text, start), theirs(other.text, start);
  bool haveMine = mine.Next(), haveTheirs = theirs.Next();
  while (haveMine || haveTheirs) {
    const int order = !haveMine ? 1 : !haveTheirs ? -1 : mine.key.compare(theirs.key);
    const std::string_view key = order <= 0 ? mine.key : theirs.key;
    if ((order != 0 || differ(mine.value, theirs.value)) && compared(key)) {
      fields.push_back({std::string(key), order <= 0 ? mine.value : std::string_view(),
                        order >= 0 ? theirs.value : std::string_view()});
    }
    // Where the rest of the texts is the same, so are the members in it.
    if (order == 0 && one.text.substr(mine.At()) == other.text.substr(theirs.At())) {
      break;
    }
    if (order <= 0) {
      haveMine = mine.Next();
    }
    if (order >= 0) {
      haveTheirs = theirs.Next();
    }
  }
  return fields;
}

}  // namespace korv::cli::api
