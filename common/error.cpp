#include "common/error.h"

#include "common/string_utils.h"

namespace korv {

Error::Error(std::string function, unsigned long line, std::string name, std::string message)
    : std::runtime_error(std::move(message)),
      name(std::move(name)),
      function(std::move(function)),
      line(line) {}

std::string Error::to_string() const {
  if (function.empty()) {
    return name + what();
  }
  return name + " (" + function + "@" + std::to_string(line) + "): " + what();
}

HTTPError::HTTPError(long code, const std::string& text, std::string function, unsigned long line)
    : Error(std::move(function), line, "HTTPError",
            string::format("HTTP (Error: %ld): %s", code, text)) {}

std::string HTTPError::to_string() const {
  return what();
}

ResponseValidationError::ResponseValidationError(std::string message, std::string function,
                                                 unsigned long line)
    : Error(std::move(function), line, "Response Validation Error", std::move(message)) {}

FileError::FileError(std::string message, std::string function, unsigned long line)
    : Error(std::move(function), line, "FileError", std::move(message)) {}

IncompatibleServerError::IncompatibleServerError(std::string message, std::string function,
                                                 unsigned long line)
    : Error(std::move(function), line, "Incompatible Server", std::move(message)) {}

namespace {

struct KindTraits {
  const char* name;
  int status;
};

KindTraits traits(UsageError::Kind kind) {
  switch (kind) {
    case UsageError::Kind::File:
      return {"FileError", 103};
    case UsageError::Kind::Value:
      return {"ValidationError", 105};
    case UsageError::Kind::Missing:
      return {"RequiredError", 106};
    case UsageError::Kind::Contradiction:
      return {"ExcludesError", 107};
    case UsageError::Kind::Config:
      return {"ConfigError", 110};
  }
  return {"UsageError", 1};
}

}  // namespace

UsageError::UsageError(Kind kind, std::string message)
    : Error({}, 0, traits(kind).name, std::move(message)), kind(kind) {}

std::string UsageError::to_string() const {
  return traits(kind).name + std::string(": ") + what();
}

int UsageError::ExitStatus() const {
  return traits(kind).status;
}

}  // namespace korv
