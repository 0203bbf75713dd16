// Runs inputs through a fuzz target without the fuzzing engine, so its seed corpus can be
// replayed as an ordinary test: every file in every directory named.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  int replayed = 0;
  for (int i = 1; i < argc; ++i) {
    for (const auto& input : std::filesystem::directory_iterator(argv[i])) {
      std::printf("%s\n", input.path().c_str());
      std::fflush(stdout);  // names the input that brings the target down
      std::ifstream in(input.path(), std::ios::binary);
      const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
      LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
      ++replayed;
    }
  }
  return replayed == 0 ? 1 : 0;
}
