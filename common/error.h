// The error family for failures of the utility's own making. The driver writes what() to standard
// error and to_string() (the long form, with the raise site) to the log, and ends the run with
// ExitStatus().
#pragma once

#include <stdexcept>
#include <string>

namespace korv {

class Error : public std::runtime_error {
 public:
  Error(std::string function, unsigned long line, std::string name, std::string message);

  // "<name> (<function>@<line>): <message>", or "<name><message>" without a function.
  virtual std::string to_string() const;
  virtual int ExitStatus() const { return 4; }

 private:
  std::string name;
  std::string function;
  unsigned long line;
};

// The server answered with a failure status. The status exists only inside the message.
class HTTPError : public Error {
 public:
  HTTPError(long code, const std::string& text, std::string function, unsigned long line);
  std::string to_string() const override;
};

// A server answer that cannot be used.
class ResponseValidationError : public Error {
 public:
  ResponseValidationError(std::string message, std::string function, unsigned long line);
};

// An export or import file (or standard output) that cannot be used.
class FileError : public Error {
 public:
  FileError(std::string message, std::string function, unsigned long line);
};

// The server does not offer the API version the utility speaks: nothing can be asked of it.
class IncompatibleServerError : public Error {
 public:
  IncompatibleServerError(std::string message, std::string function, unsigned long line);
  int ExitStatus() const override { return 6; }
};

// A command line, environment or configuration file that the run cannot go on with, found
// before anything is asked of a server. The log names the kind ("ValidationError: <message>");
// standard error gets the message and, for every kind but a refused value, the pointer to --help.
class UsageError : public Error {
 public:
  enum class Kind {
    File,           // a file that a setting names cannot be used (103)
    Value,          // a value cannot be used (105)
    Missing,        // a required setting is not given (106)
    Contradiction,  // two settings contradict each other (107)
    Config,         // the configuration file does not read as one (110)
  };

  UsageError(Kind kind, std::string message);

  Kind GetKind() const { return kind; }
  std::string to_string() const override;
  int ExitStatus() const override;
  bool PointsToHelp() const { return kind != Kind::Value; }

 private:
  Kind kind;
};

// Where an error is raised: the raising operation's pretty-function text and the source line.
struct Place {
  std::string function;
  unsigned long line;
};
#define KORV_HERE                 \
  ::korv::Place {                 \
    __PRETTY_FUNCTION__, __LINE__ \
  }

// The message used whenever a server answer cannot be parsed or lacks what is needed.
inline constexpr const char* kResponseParseFailure =
    "Failed to parse the response from the KORV Server.";

}  // namespace korv
