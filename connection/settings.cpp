#include "connection/settings.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <regex>

#include <CLI/CLI.hpp>

#include "common/string_utils.h"

namespace korv::cli::api {

std::string url;
std::string user;
std::string password;
std::string token;
std::vector<std::string> supportedApiVersions;
bool secureConnection = true;
std::string serverEntry;

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// The buffer that getline grows as it reads.
struct LineBuffer {
  char* data = nullptr;
  size_t capacity = 0;
  LineBuffer() = default;
  LineBuffer(const LineBuffer&) = delete;
  LineBuffer& operator=(const LineBuffer&) = delete;
  ~LineBuffer() { std::free(data); }
};

// A line counts as the password when it holds something other than white space.
bool hasText(const char* line, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    if (!std::isspace(static_cast<unsigned char>(line[i]))) {
      return true;
    }
  }
  return false;
}

}  // namespace

bool validateUrlWithoutQueryAndFragment(std::string url) {
  // Every part is optional and the path takes anything but "?" and "#": a URL is refused exactly
  // when it has a query or a fragment. The scan comes first: the regular expression engine
  // recurses once per character, and a very long value would exhaust the stack.
  if (url.find_first_of("?#") != std::string::npos) {
    return false;
  }
  static const std::regex pattern("^((http|https):)?(//([^\\/?#]*))?([^?#]*)",
                                  std::regex::extended);
  constexpr size_t kRegexSafeLength = 4096;
  return url.size() > kRegexSafeLength || std::regex_match(url, pattern);
}

bool setURL(const std::vector<std::string>& values) {
  const std::string& value = values.at(0);
  if (value.empty() || !validateUrlWithoutQueryAndFragment(value)) {
    // "Marlformed" is the system's own text, kept on purpose.
    throw CLI::ValidationError("Marlformed url: '" +
                               string::printable(string::hideUserInfo(value)) + "'");
  }
  url = value;
  if (url.back() != '/') {
    url += '/';
  }
  return true;
}

bool setUser(const std::vector<std::string>& values) {
  user = values.at(0);
  return true;
}

bool setPasswordFile(const std::vector<std::string>& values) {
  const std::string& path = values.at(0);
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) {
    // "'%s'is" without a blank is the system's own text, kept on purpose.
    throw CLI::FileError(string::format("Password file '%s'is missing or not accessible.", path));
  }
  if (!S_ISREG(status.st_mode)) {
    throw CLI::FileError(string::format("Password file '%s' is not a plain file.", path));
  }
  if ((status.st_mode & 077) != 0) {
    throw CLI::FileError(string::format(
        "Password file '%s' has group or world access; permissions should be u=rw (0600) or less.",
        path));
  }
  File file(std::fopen(path.c_str(), "r"));
  if (!file) {
    throw CLI::FileError("Cannot open the password file.");
  }

  // The first line that is not empty and not only white space is the password, as it stands
  // but for its line feed: blanks and a carriage return stay.
  LineBuffer line;
  ssize_t length;
  while ((length = ::getline(&line.data, &line.capacity, file.get())) >= 0) {
    size_t size = static_cast<size_t>(length);
    if (size > 0 && line.data[size - 1] == '\n') {
      --size;
    }
    if (hasText(line.data, size)) {
      password.assign(line.data, size);
      return true;
    }
  }
  throw CLI::FileError("Cannot find password in the file.");
}

bool useInsecureConnection() {
  secureConnection = false;
  return true;
}

}  // namespace korv::cli::api
