// An export (a server's answer to an export request, or an export file) kept as its text, with
// each item, and each probe an item carries, found as the piece of that text that is its compact
// form. Items are then compared, and files and requests made of them, by their texts, without
// building a document of the whole export.
//
// Read takes the text as it stands when it is already in the JSON library's compact form (what
// dump() writes: keys in order and each once, no white space inside, the library's escapes) and
// holds no floating-point number; anything else it declines, and Take then makes the same index
// from the library's document of the export, each item dumped on its own.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace korv::cli::api {

// One item of an export, or one probe that an item carries. Its members are ordered so that an
// export of many items takes little memory.
struct ItemText {
  std::string_view text;  // its compact form
  std::string_view name;
  // Its "id" when that is a number of 0 or more (the order in which the server lists items); the
  // largest number otherwise.
  std::uint64_t order = UINT64_MAX;
  // The probes it carries: the member is missing, is no array, or is an array of the
  // carriedCount items of ExportIndex::carried from firstCarried on.
  std::uint32_t firstCarried = 0;
  std::uint32_t carriedCount = 0;
  bool named = false;  // whether it is an object with a text "name"
  // Whether it holds a floating-point number: then texts that differ may still hold equal values.
  bool floats = false;
  enum class Carried : std::uint8_t { None, NotArray, Array } carried = Carried::None;
};

// A member of an object written by ObjectWriter: a compact value, or an array of item texts.
struct ObjectMember {
  std::string key;
  std::string_view value;
  const std::vector<std::string_view>* items = nullptr;
};

using Sink = std::function<void(std::string_view)>;

// Writes an object in the library's compact form a block at a time: its members sorted by key;
// of members with the same key, the last one. The values and items must stay until it is written.
class ObjectWriter {
 public:
  explicit ObjectWriter(std::vector<ObjectMember> members);

  // The size of the whole text in bytes.
  std::size_t Size() const { return size; }
  // Appends the next block (never empty) and returns true; false, appending nothing, once all is
  // written. Restart begins again.
  bool Next(std::string& out);
  void Restart() {
    member = 0;
    item = 0;
    done = false;
  }
  // Writes all of it.
  void WriteAll(const Sink& write);

 private:
  std::vector<ObjectMember> members;
  std::size_t size = 0;
  std::size_t member = 0;  // the member being written
  std::size_t item = 0;    // its items written so far
  bool done = false;
};

class ExportIndex {
 public:
  // Indexes the text of an object holding "version" and an array of items under itemsKey, whose
  // items carry probes under carriedKey (none: they carry none); false when it declines, leaving
  // the index empty. `spare` readable bytes follow the text; owner, if any, keeps the text.
  bool Read(std::string_view text, std::size_t spare, std::shared_ptr<const void> owner,
            std::string_view itemsKey, const char* carriedKey);
  // The same from the library's document of such an object.
  void Take(const nlohmann::json& document, std::string_view itemsKey, const char* carriedKey);

  // The members of the outer object but the items, in key order, with their compact values.
  const std::vector<ObjectMember>& Members() const { return members; }
  // The compact value of the outer member; "" when there is none.
  std::string_view Member(std::string_view key) const;
  const std::vector<ItemText>& Items() const { return items; }
  const ItemText& Carried(std::size_t index) const { return carried[index]; }
  // Writes the whole export in compact form.
  void Write(std::string_view itemsKey, const Sink& write) const;

 private:
  bool Index(std::string_view text, std::size_t spare, std::string_view itemsKey,
             std::string_view carriedKey);

  std::shared_ptr<const void> owner;
  std::vector<ObjectMember> members;
  std::vector<ItemText> items;
  std::vector<ItemText> carried;
};

// A top-level member whose values differ between two items: its key and each item's value as
// compact JSON, empty for an item that does not have the member.
struct MemberDifference {
  std::string key;
  std::string_view mine;
  std::string_view theirs;
};

// The top-level members of two items whose values differ, a member that only one has included,
// in ascending order of their keys; the members named in `ignored` are not compared. Values are
// compared as the JSON library compares them. The values are views of the items' texts.
std::vector<MemberDifference> differingMembers(const ItemText& one, const ItemText& other,
                                               const std::vector<std::string_view>& ignored);

}  // namespace korv::cli::api
