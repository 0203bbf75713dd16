// Finding the ends of JSON values in a text without reading them: where a string closes, where a
// value ends. Whether a piece is JSON at all is for a parser to say.
#pragma once

#include <cstddef>
#include <string_view>

namespace korv::cli::api::text {

bool isSpace(char c);
// The quote that closes the string opened at `at`; npos when there is none.
std::size_t closingQuote(std::string_view text, std::size_t at);
// Where the value that starts at `at` ends: just past the bracket that closes an array or an
// object (brackets in strings do not count) or the quote that closes a string, and for anything
// else at the next separator or white space; npos when the text ends first.
std::size_t valueEnd(std::string_view text, std::size_t at);

}  // namespace korv::cli::api::text
