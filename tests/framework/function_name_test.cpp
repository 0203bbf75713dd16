// The function@line place of log records, from the pretty-function texts of both compilers.
#include <gtest/gtest.h>

#include <string>

#include "common/logger.h"

namespace {

TEST(FunctionName, IsTheSameForGccAndClangSpellings) {
  // What GCC writes, what clang writes, and the name logged for both.
  const char* const cases[][3] = {
      {"korv::cli::Command::InitAll(const string&, int, char**, bool)::<lambda()>",
       "auto korv::cli::Command::InitAll(const std::string &, int, char **, bool)::"
       "(anonymous class)::operator()() const",
       "korv::cli::Command::InitAll"},
      {"void korv::logger::{anonymous}::Sink::sink_it_(const int&)",
       "void korv::logger::(anonymous namespace)::Sink::sink_it_(const int &)",
       "korv::logger::{anonymous}::Sink::sink_it_"},
      {"korv::readList<std::pair<int, int> >(const string&)::<lambda(int)>::<lambda()>",
       "auto korv::readList(const std::string &)::(anonymous class)::operator()(int)::"
       "(anonymous class)::operator()() const",
       "korv::readList"},
      {"bool korv::A::operator()(int) const", "bool korv::A::operator()(int) const",
       "korv::A::operator()"},
      {"korv::<lambda()>", "auto korv::(anonymous class)::operator()() const", "korv::<lambda>"},
  };
  for (const auto& [gcc, clang, name] : cases) {
    EXPECT_EQ(korv::logger::functionName(gcc), name) << gcc;
    EXPECT_EQ(korv::logger::functionName(clang), name) << clang;
  }
}

}  // namespace
