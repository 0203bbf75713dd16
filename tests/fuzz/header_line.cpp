// The response header callback with one line as libcurl hands it over. A line over 102400 bytes
// is refused (0), any other is taken whole; a line with a colon stores the text before the first
// colon as the name and the rest, less the final byte (the line feed), as the value.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "web/web_connection.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);
  std::string buffer = line;  // the callback takes a pointer to modifiable bytes
  korv::web::HeaderMap headers, expected;
  const bool taken = size <= 102400;
  const size_t colon = line.find(':');
  if (taken && colon != std::string::npos) {
    expected[line.substr(0, colon)] =
        colon + 1 < size ? line.substr(colon + 1, size - colon - 2) : "";
  }
  if (korv::web::HeaderCallback(buffer.data(), 1, size, &headers) != (taken ? size : 0) ||
      headers != expected) {
    std::abort();
  }
  return 0;
}
