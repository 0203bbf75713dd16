// The fast way through large answers and files. The text's outer levels (the array of a list,
// the object of an export, an import file or an import answer, and its items array) are split
// where JSON puts its separators, and simdjson reads each piece: a record, a member's value. A
// large document is then never held twice in memory, only its text and one record at a time.
//
// What comes out is byte for byte what the JSON library's way gives (parseText, then the
// library's conversions and dump()). Each function declines, by giving nothing or false, wherever
// it cannot be sure of that: a text that is not JSON (any piece that simdjson refuses, any byte
// between pieces that is not a separator or white space), nesting near kMaxNesting, a number
// beyond 64 bits, a floating-point one where it writes, any other shape than the plain case. The
// caller then
// goes the JSON library's way, which stays the judge of everything else, so what is accepted,
// refused, printed and written, and every message, stays the same.
//
// Each function takes the number of readable bytes that follow the text in memory (`spare`):
// pieces with room enough after them (kSpare bytes) are read where they stand, the others from a
// copy.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace korv::cli::api {

class MemberValue;

namespace fast {

// The readable bytes after a text that let each of its pieces be read where it stands.
inline constexpr std::size_t kSpare = 64;

// An export: the compact form (dump()) of a text that is an object holding "version" and an array
// under itemsKey (what checkExport lets through). Nothing is written unless the whole text is
// taken; it is then handed to write in blocks, in order.
bool compactExport(std::string_view text, std::size_t spare, const std::string& itemsKey,
                   const std::function<void(std::string_view)>& write);

// The body of an import request for an import file that is an object holding "version" and an
// items array under itemsKey: those two members and the switches, in the library's compact form,
// as the import sends it when built from the parsed file. It is written a part at a time while it
// is sent; the file's text must stay until then.
class ImportRequest {
 public:
  ImportRequest();
  ~ImportRequest();
  ImportRequest(const ImportRequest&) = delete;
  ImportRequest& operator=(const ImportRequest&) = delete;

  // Checks the file's text and measures the body; false when the fast way declines the file.
  // The room the text has after it (its capacity) is its spare.
  bool Prepare(const std::string& file, const std::string& itemsKey,
               const std::vector<std::pair<std::string_view, bool>>& switches);
  // After a successful Prepare: the body's size in bytes; Next appends its next part (never
  // empty, whatever out already holds) and returns false, appending nothing, once all is written;
  // Restart begins it again.
  std::size_t Size() const;
  bool Next(std::string& out);
  void Restart();

 private:
  struct State;
  std::unique_ptr<State> state;
};

// One entry of an import answer's "result": its "name", its "status" and its "msg" (nothing when
// the member is missing or null).
struct Verdict {
  std::string name;
  std::string status;
  std::optional<std::string> msg;
};

// Hands the entries of an import answer to use, in order, once all are read: the answer must be
// an object whose "result" is an array of objects, each with texts "name" and "status", and
// "msg" a text, null or missing.
bool importVerdicts(std::string_view answer, std::size_t spare,
                    const std::function<void(const Verdict&)>& use);

// Reads an array of objects, stopping at the first one the fast way cannot take: take() is called
// for each object, after members[i] got the value of the object's member named keys[i] (the last
// one when a key is given twice; Missing when there is none; an array only counts as a TextList
// where textLists[i] is set and all its elements are texts). False when the fast way declines
// the text or take() returns false.
bool readObjects(std::string_view text, std::size_t spare,
                 const std::vector<std::string_view>& keys, const std::vector<bool>& textLists,
                 std::vector<MemberValue>& members, const std::function<bool()>& take);

}  // namespace fast
}  // namespace korv::cli::api
