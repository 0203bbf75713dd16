#include "records/fast_json.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include <simdjson.h>

#include "records/compact_json.h"
#include "records/json_text.h"
#include "records/record_stream.h"

namespace korv::cli::api::fast {

static_assert(kSpare >= simdjson::SIMDJSON_PADDING);

namespace {

using text::closingQuote;
using text::isSpace;
using text::valueEnd;

using simdjson::dom::element;
using simdjson::dom::element_type;

constexpr std::size_t kNone = std::string_view::npos;
// A piece stands at most two levels down (in the items array of the outer object), so pieces
// nested this deep keep the whole text within kMaxNesting.
constexpr std::size_t kPieceDepth = kMaxNesting - 2;
// How much compact text gathers before it is handed on.
constexpr std::size_t kBlock = 1 << 20;

std::size_t skipSpace(std::string_view text, std::size_t at) {
  while (at < text.size() && isSpace(text[at])) {
    ++at;
  }
  return at;
}

// Reads pieces of a text with simdjson, one at a time: each value read is good until the next.
class Pieces {
 public:
  // The text, and the readable bytes that follow it.
  Pieces(std::string_view text, std::size_t spare)
      : begin(address(text.data())), end(address(text.data()) + text.size() + spare) {}

  std::optional<element> Read(std::string_view piece) {
    if (!ready) {
      ready = parser.allocate(4096, kPieceDepth) == simdjson::SUCCESS;
    }
    // A piece of the text with room enough after it is read where it stands: simdjson reads past
    // its end but does not care what it finds there. Anything else is read from a copy.
    const std::uintptr_t from = address(piece.data());
    const bool copy = from < begin || from > end || end - from < piece.size() + kSpare;
    element value;
    if (!ready || parser.parse(piece.data(), piece.size(), copy).get(value) != simdjson::SUCCESS) {
      return std::nullopt;
    }
    return value;
  }

 private:
  static std::uintptr_t address(const char* at) { return reinterpret_cast<std::uintptr_t>(at); }

  std::uintptr_t begin;
  std::uintptr_t end;
  simdjson::dom::parser parser;
  bool ready = false;
};

// Splits the array that opens at `at` and calls each(piece) for each element; `at` ends just
// past the closing bracket. False when what stands between the elements is not JSON, or when each
// returns false.
template <typename Each>
bool forEachElement(std::string_view text, std::size_t& at, Each each) {
  at = skipSpace(text, at + 1);
  if (at < text.size() && text[at] == ']') {
    ++at;
    return true;
  }
  for (;;) {
    const std::size_t end = valueEnd(text, at);
    if (end == kNone || end == at || !each(text.substr(at, end - at))) {
      return false;
    }
    at = skipSpace(text, end);
    if (at >= text.size()) {
      return false;
    }
    if (text[at] == ']') {
      ++at;
      return true;
    }
    if (text[at] != ',') {
      return false;
    }
    at = skipSpace(text, at + 1);
  }
}

struct Member {
  std::string key;
  std::string_view value;  // the value's text, not yet read
  // The elements' texts, for a member of the key split element by element (an array).
  std::optional<std::vector<std::string_view>> items;
};

// The members of the object that opens at `at`, in the order given; `at` ends just past the
// closing brace. An array under splitKey is split into its elements on the way.
std::optional<std::vector<Member>> splitObject(std::string_view text, std::size_t& at,
                                               Pieces& pieces, std::string_view splitKey) {
  std::vector<Member> members;
  at = skipSpace(text, at + 1);
  if (at < text.size() && text[at] == '}') {
    ++at;
    return members;
  }
  for (;;) {
    if (at >= text.size() || text[at] != '"') {
      return std::nullopt;
    }
    const std::size_t keyEnd = valueEnd(text, at);
    const auto key = keyEnd == kNone ? std::nullopt : pieces.Read(text.substr(at, keyEnd - at));
    if (!key || !key->is_string()) {
      return std::nullopt;
    }
    Member& member = members.emplace_back();
    member.key = std::string(key->get_string().value_unsafe());
    at = skipSpace(text, keyEnd);
    if (at >= text.size() || text[at] != ':') {
      return std::nullopt;
    }
    at = skipSpace(text, at + 1);
    const std::size_t start = at;
    if (member.key == splitKey && at < text.size() && text[at] == '[') {
      member.items.emplace();
      if (!forEachElement(text, at, [&](std::string_view piece) {
            member.items->push_back(piece);
            return true;
          })) {
        return std::nullopt;
      }
    } else {
      at = valueEnd(text, at);
      if (at == kNone || at == start) {
        return std::nullopt;
      }
    }
    member.value = text.substr(start, at - start);
    at = skipSpace(text, at);
    if (at >= text.size()) {
      return std::nullopt;
    }
    if (text[at] == '}') {
      ++at;
      return members;
    }
    if (text[at] != ',') {
      return std::nullopt;
    }
    at = skipSpace(text, at + 1);
  }
}

// The members of the text's outer object, when it is one, its array under splitKey split.
std::optional<std::vector<Member>> outerObject(std::string_view text, Pieces& pieces,
                                               std::string_view splitKey) {
  std::size_t at = skipSpace(text, 0);
  if (at >= text.size() || text[at] != '{') {
    return std::nullopt;
  }
  auto members = splitObject(text, at, pieces, splitKey);
  if (!members || skipSpace(text, at) != text.size()) {
    return std::nullopt;
  }
  return members;
}

// The members as the library keeps an object: sorted by key, the last member of a key standing.
std::vector<const Member*> libraryOrder(const std::vector<Member>& members) {
  std::vector<const Member*> order;
  for (const Member& member : members) {
    order.push_back(&member);
  }
  std::stable_sort(order.begin(), order.end(),
                   [](const Member* a, const Member* b) { return a->key < b->key; });
  std::vector<const Member*> kept;
  for (std::size_t i = 0; i < order.size(); ++i) {
    if (i + 1 == order.size() || order[i]->key != order[i + 1]->key) {
      kept.push_back(order[i]);
    }
  }
  return kept;
}

const Member* lastMember(const std::vector<Member>& members, std::string_view key) {
  const Member* found = nullptr;
  for (const Member& member : members) {
    if (member.key == key) {
      found = &member;
    }
  }
  return found;
}

// What measuring an element gives: its length written out, and whether an object's members had
// to be put in order.
struct Measure : compact::Length {
  bool reordered = false;
};

// A text in quotes, escaped as dump() escapes it. Texts read from a piece without a backslash
// need no escapes (rawTexts): the piece could hold neither quotes nor control characters in them.
template <typename Out>
void quoted(Out& out, std::string_view text, bool rawTexts) {
  if (!rawTexts) {
    compact::quoted(out, text);
    return;
  }
  out += '"';
  out += text;
  out += '"';
}

template <typename Out>
bool writeCompact(element value, Out& out, bool rawTexts = false);

template <typename Out>
bool writeObject(simdjson::dom::object object, Out& out, bool rawTexts) {
  // Most objects come with their keys sorted and none repeated: then they are written as they are.
  bool sorted = true;
  bool firstKey = true;
  std::string_view last;
  for (const auto field : object) {
    if (!firstKey && !(last < field.key)) {
      sorted = false;
      break;
    }
    last = field.key;
    firstKey = false;
  }
  bool first = true;
  const auto member = [&](std::string_view key, element value) {
    out += first ? '{' : ',';
    first = false;
    quoted(out, key, rawTexts);
    out += ':';
    return writeCompact(value, out, rawTexts);
  };
  if (sorted) {
    for (const auto field : object) {
      if (!member(field.key, field.value)) {
        return false;
      }
    }
  } else {
    if constexpr (std::is_same_v<Out, Measure>) {
      out.reordered = true;
    }
    std::vector<Member> members;
    std::vector<element> values;
    for (const auto field : object) {
      members.push_back({std::string(field.key), {}, std::nullopt});
      values.push_back(field.value);
    }
    for (const Member* kept : libraryOrder(members)) {
      if (!member(kept->key, values[static_cast<std::size_t>(kept - members.data())])) {
        return false;
      }
    }
  }
  out += std::string_view(first ? "{}" : "}");
  return true;
}

// Appends the value as dump() writes it; false for a floating-point number, whose form this does
// not copy.
template <typename Out>
bool writeCompact(element value, Out& out, bool rawTexts) {
  switch (value.type()) {
    case element_type::ARRAY: {
      out += '[';
      bool first = true;
      for (const element item : simdjson::dom::array(value)) {
        if (!first) {
          out += ',';
        }
        first = false;
        if (!writeCompact(item, out, rawTexts)) {
          return false;
        }
      }
      out += ']';
      return true;
    }
    case element_type::OBJECT:
      return writeObject(simdjson::dom::object(value), out, rawTexts);
    case element_type::INT64:
      compact::number(out, value.get_int64().value_unsafe());
      return true;
    case element_type::UINT64:
      compact::number(out, value.get_uint64().value_unsafe());
      return true;
    case element_type::STRING:
      quoted(out, value.get_string().value_unsafe(), rawTexts);
      return true;
    case element_type::BOOL:
      compact::boolean(out, value.get_bool().value_unsafe());
      return true;
    case element_type::NULL_VALUE:
      compact::null(out);
      return true;
    case element_type::DOUBLE:
      break;
  }
  return false;
}

// Whether the value holds no floating-point number, so that the fast way can take it.
bool plain(element value) {
  switch (value.type()) {
    case element_type::ARRAY:
      for (const element item : simdjson::dom::array(value)) {
        if (!plain(item)) {
          return false;
        }
      }
      return true;
    case element_type::OBJECT:
      for (const auto field : simdjson::dom::object(value)) {
        if (!plain(field.value)) {
          return false;
        }
      }
      return true;
    case element_type::DOUBLE:
      return false;
    default:
      return true;
  }
}

// Checks the members of an outer object but the one split for writing: each must be a plain value.
bool checkMembers(const std::vector<Member>& members, const Member* split, Pieces& pieces) {
  const auto check = [&](std::string_view piece) {
    const auto value = pieces.Read(piece);
    return value && plain(*value);
  };
  for (const Member& member : members) {
    if (&member == split) {
      continue;
    }
    if (!member.items) {
      if (!check(member.value)) {
        return false;
      }
      continue;
    }
    for (const std::string_view piece : *member.items) {
      if (!check(piece)) {
        return false;
      }
    }
  }
  return true;
}

// Writes an outer object in the library's compact form a part at a time: the text before the
// split member's elements, then the elements a block at a time, then the text after them.
class OuterWriter {
 public:
  OuterWriter(std::vector<Member> members, std::size_t split, Pieces& pieces)
      : members(std::move(members)), split(split), pieces(pieces) {}

  // Writes the text around the elements and checks and measures every element; false when one
  // is not plain.
  bool Prepare() {
    std::string* out = &head;
    out->assign("{");
    bool first = true;
    for (const Member* member : libraryOrder(members)) {
      if (!first) {
        *out += ',';
      }
      first = false;
      compact::quoted(*out, member->key);
      *out += ':';
      if (member == &members[split]) {
        *out += '[';
        out = &tail;
        out->assign("]");
        continue;
      }
      const auto value = pieces.Read(member->value);
      if (!value || !writeCompact(*value, *out)) {
        return false;
      }
    }
    *out += '}';
    size = head.size() + tail.size() + (Items().empty() ? 0 : Items().size() - 1);
    verbatim.assign(Items().size(), false);
    for (std::size_t i = 0; i < Items().size(); ++i) {
      const std::string_view piece = Items()[i];
      const auto item = pieces.Read(piece);
      Measure length;
      const bool raw = RawTexts(piece);
      if (!item || !writeCompact(*item, length, raw)) {
        return false;
      }
      // Written out, an element loses white space, a number's minus before 0 or a repeated
      // member, and its members may change places; its texts need no escapes. When nothing was
      // lost and nothing moved, it is written as it stands.
      verbatim[i] = raw && !length.reordered && length.bytes == piece.size();
      size += length.bytes;
    }
    return true;
  }

  std::size_t Size() const { return size; }

  // Appends the next part: the head, or at least one element and at most a block's worth, or the
  // tail, whatever the text already in out; false, appending nothing, once all is written. A part
  // is never empty, so that writing ends.
  bool Next(std::string& out) {
    const std::size_t count = Items().size();
    if (next > count + 1) {
      return false;
    }
    const std::size_t start = out.size();
    if (next == 0) {
      out += head;
      ++next;
    }
    for (; next <= count && out.size() - start < kBlock; ++next) {
      WriteItem(next - 1, out);
    }
    if (next == count + 1) {
      out += tail;
      ++next;
    }
    return true;
  }

  void Restart() { next = 0; }

 private:
  const std::vector<std::string_view>& Items() const { return *members[split].items; }

  static bool RawTexts(std::string_view piece) {
    return piece.find('\\') == std::string_view::npos;
  }

  bool WriteItem(std::size_t index, std::string& out) {
    if (index > 0) {
      out += ',';
    }
    const std::string_view piece = Items()[index];
    if (verbatim[index]) {
      out += piece;
      return true;
    }
    const auto item = pieces.Read(piece);
    return item && writeCompact(*item, out, RawTexts(piece));
  }

  std::vector<Member> members;
  std::size_t split;  // the member written element by element
  Pieces& pieces;
  std::string head;
  std::string tail;
  std::size_t size = 0;
  std::vector<bool> verbatim;  // the elements whose text is their compact form
  std::size_t next = 0;        // 0: the head; 1 to n: the elements; n + 1: the tail
};

// The members of the outer object of an export or an import file and the place of the member
// holding its items, split into elements; nothing for any other shape.
std::optional<std::pair<std::vector<Member>, std::size_t>> exportShape(std::string_view text,
                                                                       const std::string& itemsKey,
                                                                       Pieces& pieces) {
  auto members = outerObject(text, pieces, itemsKey);
  if (!members) {
    return std::nullopt;
  }
  const Member* items = lastMember(*members, itemsKey);
  if (!items || !items->items || !lastMember(*members, "version") ||
      !checkMembers(*members, items, pieces)) {
    return std::nullopt;
  }
  const auto split = static_cast<std::size_t>(items - members->data());
  return std::make_pair(std::move(*members), split);
}

std::optional<std::string> textOf(element value) {
  if (!value.is_string()) {
    return std::nullopt;
  }
  return std::string(value.get_string().value_unsafe());
}

// The value of the object's last member of that key; nothing when there is none.
std::optional<element> lastField(simdjson::dom::object object, std::string_view key) {
  std::optional<element> found;
  for (const auto field : object) {
    if (field.key == key) {
      found = field.value;
    }
  }
  return found;
}

// Sets the member from the value as the JSON library reads it.
void fill(MemberValue& member, element value, bool textList) {
  switch (value.type()) {
    case element_type::NULL_VALUE:
      member.kind = MemberValue::Kind::Null;
      return;
    case element_type::BOOL:
      member.kind = MemberValue::Kind::Boolean;
      member.boolean = value.get_bool().value_unsafe();
      return;
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
      return;
    }
    case element_type::UINT64:
      member.kind = MemberValue::Kind::Unsigned;
      member.unsignedInteger = value.get_uint64().value_unsafe();
      return;
    case element_type::DOUBLE:
      member.kind = MemberValue::Kind::Float;
      member.floating = value.get_double().value_unsafe();
      return;
    case element_type::STRING:
      member.kind = MemberValue::Kind::Text;
      member.text.assign(value.get_string().value_unsafe());
      return;
    case element_type::ARRAY:
      member.kind = textList ? MemberValue::Kind::TextList : MemberValue::Kind::Other;
      member.texts.clear();
      for (const element item : simdjson::dom::array(value)) {
        if (member.kind == MemberValue::Kind::TextList && item.is_string()) {
          member.texts.emplace_back(item.get_string().value_unsafe());
        } else {
          member.kind = MemberValue::Kind::Other;
        }
      }
      return;
    case element_type::OBJECT:
      member.kind = MemberValue::Kind::Other;
      return;
  }
}

}  // namespace

bool compactExport(std::string_view text, std::size_t spare, const std::string& itemsKey,
                   const std::function<void(std::string_view)>& write) {
  Pieces pieces(text, spare);
  auto shape = exportShape(text, itemsKey, pieces);
  if (!shape) {
    return false;
  }
  // Checked whole first, so that nothing is written for a text declined.
  OuterWriter writer(std::move(shape->first), shape->second, pieces);
  if (!writer.Prepare()) {
    return false;
  }
  std::string block;
  while (writer.Next(block)) {
    write(block);
    block.clear();
  }
  return true;
}

struct ImportRequest::State {
  State(std::string_view file, std::size_t spare) : pieces(file, spare) {}
  Pieces pieces;
  std::optional<OuterWriter> writer;
};

ImportRequest::ImportRequest() = default;
ImportRequest::~ImportRequest() = default;

bool ImportRequest::Prepare(const std::string& file, const std::string& itemsKey,
                            const std::vector<std::pair<std::string_view, bool>>& switches) {
  state = std::make_unique<State>(file, file.capacity() - file.size());
  auto shape = exportShape(file, itemsKey, state->pieces);
  if (!shape) {
    return false;
  }
  // The request holds the items, "version" and the switches, none of the file's other members.
  const Member& items = shape->first[shape->second];
  std::vector<Member> request{{itemsKey, items.value, items.items},
                              {"version", lastMember(shape->first, "version")->value, {}}};
  for (const auto& [key, flag] : switches) {
    request.push_back({std::string(key), flag ? "true" : "false", std::nullopt});
  }
  state->writer.emplace(std::move(request), 0, state->pieces);
  return state->writer->Prepare();
}

std::size_t ImportRequest::Size() const {
  return state->writer->Size();
}

bool ImportRequest::Next(std::string& out) {
  return state->writer->Next(out);
}

void ImportRequest::Restart() {
  state->writer->Restart();
}

bool importVerdicts(std::string_view answer, std::size_t spare,
                    const std::function<void(const Verdict&)>& use) {
  Pieces pieces(answer, spare);
  const auto members = outerObject(answer, pieces, "result");
  const Member* result = members ? lastMember(*members, "result") : nullptr;
  if (!result || !result->items || !checkMembers(*members, result, pieces)) {
    return false;
  }
  Verdict verdict;
  const auto read = [&](std::string_view piece) {
    const auto entry = pieces.Read(piece);
    if (!entry || !entry->is_object() || !plain(*entry)) {
      return false;
    }
    const simdjson::dom::object object(*entry);
    const auto name = lastField(object, "name");
    const auto status = lastField(object, "status");
    const auto msg = lastField(object, "msg");
    auto nameText = name ? textOf(*name) : std::nullopt;
    auto statusText = status ? textOf(*status) : std::nullopt;
    if (!nameText || !statusText) {
      return false;
    }
    verdict.name = std::move(*nameText);
    verdict.status = std::move(*statusText);
    verdict.msg.reset();
    if (msg && !msg->is_null()) {
      verdict.msg = textOf(*msg);
      return verdict.msg.has_value();
    }
    return true;
  };
  // Checked whole first, so that nothing is used of an answer declined.
  for (const std::string_view piece : *result->items) {
    if (!read(piece)) {
      return false;
    }
  }
  for (const std::string_view piece : *result->items) {
    read(piece);
    use(verdict);
  }
  return true;
}

bool readObjects(std::string_view text, std::size_t spare,
                 const std::vector<std::string_view>& keys, const std::vector<bool>& textLists,
                 std::vector<MemberValue>& members, const std::function<bool()>& take) {
  std::size_t at = skipSpace(text, 0);
  if (at >= text.size() || text[at] != '[') {
    return false;
  }
  Pieces pieces(text, spare);
  const auto fillAll = [&](std::string_view piece) {
    const auto item = pieces.Read(piece);
    if (!item || !item->is_object()) {
      return false;
    }
    for (MemberValue& member : members) {
      member.kind = MemberValue::Kind::Missing;
    }
    for (const auto field : simdjson::dom::object(*item)) {
      const auto at =
          field.key.empty() ? keys.end() : std::find(keys.begin(), keys.end(), field.key);
      if (at != keys.end()) {
        const auto index = static_cast<std::size_t>(at - keys.begin());
        fill(members[index], field.value, textLists[index]);
      }
    }
    return true;
  };
  const auto each = [&](std::string_view piece) { return fillAll(piece) && take(); };
  return forEachElement(text, at, each) && skipSpace(text, at) == text.size();
}

}  // namespace korv::cli::api::fast
