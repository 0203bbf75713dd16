// One HTTP(S) request and its response, over libcurl's easy interface.
#pragma once

#include <curl/curl.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "web/curl.h"

namespace korv::web {

// Orders header names without regard to letter case (ASCII), as HTTP compares them; HTTP/2
// sends every name in lower case.
struct HeaderNameLess {
  bool operator()(const std::string& left, const std::string& right) const;
};
// Response header names to values; names that differ only in letter case are one header.
using HeaderMap = std::map<std::string, std::string, HeaderNameLess>;

// The body of an answer as it arrives: one block of memory that doubles when it is full, grown
// with realloc, which can move a large block's pages instead of copying them, so that a large
// answer is neither copied nor touched twice as it grows. kSpare bytes (white space) always follow
// the body, so that a fast parser may read a little past its end.
class ResponseBody {
 public:
  static constexpr size_t kSpare = 64;

  ResponseBody() = default;
  ~ResponseBody() { std::free(bytes); }
  ResponseBody(const ResponseBody&) = delete;
  ResponseBody& operator=(const ResponseBody&) = delete;

  // Raises std::bad_alloc when there is no memory for it.
  void Append(const char* data, size_t count);
  void Clear() { length = 0; }
  // Empties it and gives its memory back.
  void Release();
  size_t Size() const { return length; }
  std::string_view View() const { return bytes == nullptr ? "" : std::string_view(bytes, length); }

 private:
  char* bytes = nullptr;
  size_t length = 0;
  size_t room = 0;  // allocated, the spare bytes included
};

// A request body written while it is sent: its size in bytes, known before; next(), which
// appends the next part to its argument and returns false once there is no more; and restart(),
// after which next() begins again from the first part.
struct BodySource {
  size_t size = 0;
  std::function<bool(std::string&)> next;
  std::function<void()> restart;
};

class WebConnection {
 public:
  WebConnection();
  virtual ~WebConnection();
  WebConnection(const WebConnection&) = delete;
  WebConnection& operator=(const WebConnection&) = delete;

  // Sends one request with a fresh libcurl handle. True when the transfer completed and the
  // status is 200 to 299. After a transport failure ResponseCode() holds libcurl's result code
  // and Response() what arrived, except of an answer refused for its size (then it is empty).
  // A request body goes out at most once: when the connection closes after all of it went out
  // and before any answer, the transfer fails as one that got nothing back (CURLE_GOT_NOTHING).
  virtual bool Perform(const std::string& url, const std::string& method,
                       const std::string& payload);
  // The same with a body written while it is sent.
  virtual bool Perform(const std::string& url, const std::string& method, const BodySource& body);

  long ResponseCode() const { return responseCode; }
  // Good until the next request; followed by ResponseBody::kSpare bytes of white space.
  std::string_view Response() const { return response.View(); }
  const HeaderMap& ResponseHeaders() const { return responseHeaders; }
  // The text of the last failure; a later success leaves it as it was.
  const std::string& ErrorMessage() const { return errorMessage; }

  // Frees every stored option and list; the response stays.
  void Clear();

  void AllowInsecure(bool insecure) { verifySSL = !insecure; }
  // An interruptible request (the default) stops at the first interrupting signal and raises
  // interrupt::Interrupted. One that is not (the token release) goes on after the first signal,
  // within a time limit, and stops at the second.
  void SetInterruptible(bool interruptible) { this->interruptible = interruptible; }
  // Appends the header line "name: value"; the same name twice sends both lines.
  void AddHeader(const std::string& name, const std::string& value);
  // Replaces all header lines by one line per entry, in key order.
  void SetHeaders(const std::map<std::string, std::string>& headers);

  // Options by name ("mail_from", "mail_reciept", "password", "ssl_verifyhost",
  // "ssl_verifypeer", "username"); false for an unknown name.
  bool SetOption(const std::string& name, const std::string& value);
  bool SetOption(const std::string& name, const long& value);
  bool SetOption(const std::string& name, const std::vector<std::string>& values);
  void SetOtherOptions(CURL* handle);

  // TLS material; a path that does not exist is refused with a warning in the log.
  bool SetSSLFile(CURLoption option, const std::string& path, const std::string& label);
  bool SetSSLCert(const std::string& path);
  bool SetSSLKey(const std::string& path);
  bool SetSSLCA(std::string path);
  bool SetSSLCRL(const std::string& path);
  void SetSSLOptions(CURL* handle);

  // A proxy, with credentials when both user and password are given; an empty proxy removes it.
  // A proxy that is set carries every request, whatever the no_proxy variable says.
  void SetProxy(const std::string& proxy, const std::string& user, const std::string& password);
  void SetProxySettings(CURL* handle);

  // Time limits in milliseconds on connecting and on the whole request; 0 means none.
  void SetTimeouts(long connectMs, long totalMs);
  // Applies them; a request that survives an interrupt is also held to a short limit.
  void SetTimeoutOptions(CURL* handle);
  // "connect limit 2000 ms, request limit 500 ms", for the log of a request that ran out of time.
  std::string DescribeTimeouts() const;

 private:
  // Sends the request with the body source, or else the payload (none when empty), and logs it.
  // A body that went out whole is never sent again on another connection.
  bool Perform(const std::string& url, const std::string& method, std::string_view payload,
               const BodySource* source);

  long responseCode = -1;
  ResponseBody response;
  std::string errorMessage = "Not executed yet!";
  std::unordered_map<CURLoption, std::string> sslFiles;
  std::unordered_map<CURLoption, std::string> stringOptions;
  std::unordered_map<CURLoption, long> longOptions;
  std::unordered_map<CURLoption, CurlList> listOptions;
  std::unordered_map<CURLoption, std::string> proxyOptions;
  long connectTimeoutMs = 0;
  long totalTimeoutMs = 0;
  HeaderMap responseHeaders;
  bool followLocation = false;
  bool useDefaultCABundle = true;
  bool verifySSL = true;
  bool interruptible = true;
};

// The largest answer body a request takes (1 GiB); a larger one fails the transfer with libcurl's
// write error, as any other transport failure. Real exports stay within tens of megabytes.
constexpr size_t kMaxResponseSize = size_t{1} << 30;

// libcurl callbacks: the body into a ResponseBody, header lines into a HeaderMap. The body
// callback takes nothing (returns 0, which stops the transfer) once the body would grow past
// kMaxResponseSize. Both may throw std::bad_alloc.
size_t WriteCallback(char* data, size_t size, size_t count, void* userData);
size_t HeaderCallback(char* data, size_t size, size_t count, void* userData);
// Stops the transfer once more interrupting signals arrived than the request may survive.
int ProgressCallback(void* signalsSurvived, curl_off_t, curl_off_t, curl_off_t, curl_off_t);

// Replaces (and frees) the list stored under the option; an empty list removes the option.
void _SetListOption(std::unordered_map<CURLoption, CurlList>& lists, CURLoption option,
                    CurlList list);

}  // namespace korv::web
