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
  korv::web::HeaderMap headers;
  const size_t taken = korv::web::HeaderCallback(buffer.data(), 1, size, &headers);

  if (taken != (size > 102400 ? 0 : size)) {
    std::abort();
  }
  const size_t colon = line.find(':');
  if (size > 102400 || colon == std::string::npos) {
    if (!headers.empty()) {
      std::abort();
    }
    return 0;
  }
  const std::string value = colon + 1 < size ? line.substr(colon + 1, size - colon - 2) : "";
  if (headers.size() != 1 || headers.begin()->first != line.substr(0, colon) ||
      headers.begin()->second != value) {
    std::abort();
  }
  return 0;
}
