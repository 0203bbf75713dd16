#include "web/web_connection.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <exception>
#include <new>

#include "common/interrupt.h"
#include "common/logger.h"
#include "common/string_utils.h"

namespace korv::web {

namespace {

constexpr size_t kMaxHeaderLine = 102400;
constexpr long kReceiveBufferSize = 100000;

const std::map<std::string, CURLoption>& optionNames() {
  static const std::map<std::string, CURLoption> names{{"mail_from", CURLOPT_MAIL_FROM},
                                                       {"mail_reciept", CURLOPT_MAIL_RCPT},
                                                       {"password", CURLOPT_PASSWORD},
                                                       {"ssl_verifyhost", CURLOPT_SSL_VERIFYHOST},
                                                       {"ssl_verifypeer", CURLOPT_SSL_VERIFYPEER},
                                                       {"username", CURLOPT_USERNAME}};
  return names;
}

bool lookUp(const std::string& name, CURLoption& option) {
  const auto found = optionNames().find(name);
  if (found == optionNames().end()) {
    return false;
  }
  option = found->second;
  return true;
}

// What the body and header callbacks of one transfer fill. No exception may pass through
// libcurl's C frames: a callback keeps it here and stops the transfer, and Perform raises it
// again once curl_easy_perform has returned. libcurl closes the connection of a transfer that
// ended in an error instead of keeping it for the next request, which would otherwise read what
// is left of this answer.
struct Transfer {
  ResponseBody* body = nullptr;
  HeaderMap* headers = nullptr;
  std::exception_ptr failure;
  bool bodyRefused = false;
  // The request body: a payload, or a source that writes it while it is sent (then the part
  // written last is kept here). unsent is what has not gone of the payload or the part.
  std::string_view payload;
  const BodySource* source = nullptr;
  std::string part;
  std::string_view unsent;
  bool more = false;  // the source has parts still to write
  size_t size = 0;
  size_t sent = 0;
  bool resendRefused = false;
};

size_t readBody(char* buffer, size_t size, size_t count, void* userData) {
  auto* transfer = static_cast<Transfer*>(userData);
  try {
    while (transfer->unsent.empty() && transfer->more) {
      transfer->part.clear();
      transfer->more = transfer->source->next(transfer->part);
      transfer->unsent = transfer->part;
    }
    const size_t taken = std::min(size * count, transfer->unsent.size());
    std::memcpy(buffer, transfer->unsent.data(), taken);
    transfer->unsent.remove_prefix(taken);
    transfer->sent += taken;
    return taken;
  } catch (...) {
    transfer->failure = std::current_exception();
    return CURL_READFUNC_ABORT;
  }
}

// Sets the body to be written from its start.
void startBody(Transfer& transfer) {
  transfer.part.clear();
  transfer.unsent = transfer.payload;
  transfer.sent = 0;
  transfer.more = transfer.source != nullptr;
  if (transfer.source != nullptr) {
    transfer.source->restart();
  }
}

// libcurl rewinds a body to send it again, on a new connection when a kept-alive one closed before
// any answer came. A server may have acted on a request it received whole (an import, say), so a
// body that went out whole is never sent again: the transfer fails instead. One that went out in
// part cannot have been acted on and may be sent again.
int seekBody(void* userData, curl_off_t offset, int origin) {
  auto* transfer = static_cast<Transfer*>(userData);
  if (offset != 0 || origin != SEEK_SET) {
    return CURL_SEEKFUNC_CANTSEEK;
  }
  if (transfer->sent == transfer->size) {
    transfer->resendRefused = true;
    return CURL_SEEKFUNC_FAIL;
  }
  try {
    startBody(*transfer);
  } catch (...) {
    transfer->failure = std::current_exception();
    return CURL_SEEKFUNC_FAIL;
  }
  return CURL_SEEKFUNC_OK;
}

size_t writeBody(char* data, size_t size, size_t count, void* userData) {
  auto* transfer = static_cast<Transfer*>(userData);
  try {
    const size_t taken = WriteCallback(data, size, count, transfer->body);
    transfer->bodyRefused = taken != size * count;
    return taken;
  } catch (...) {
    transfer->failure = std::current_exception();
    return 0;
  }
}

size_t writeHeader(char* data, size_t size, size_t count, void* userData) {
  auto* transfer = static_cast<Transfer*>(userData);
  try {
    return HeaderCallback(data, size, count, transfer->headers);
  } catch (...) {
    transfer->failure = std::current_exception();
    return 0;
  }
}

}  // namespace

bool HeaderNameLess::operator()(const std::string& left, const std::string& right) const {
  return std::lexicographical_compare(
      left.begin(), left.end(), right.begin(), right.end(),
      [](unsigned char a, unsigned char b) { return std::tolower(a) < std::tolower(b); });
}

void ResponseBody::Append(const char* data, size_t count) {
  const size_t needed = length + count + kSpare;
  if (needed > room) {
    const size_t grown = std::max(needed, 2 * room);
    void* moved = std::realloc(bytes, grown);
    if (moved == nullptr) {
      throw std::bad_alloc();
    }
    bytes = static_cast<char*>(moved);
    room = grown;
  }
  std::memcpy(bytes + length, data, count);
  length += count;
  std::memset(bytes + length, ' ', kSpare);
}

void ResponseBody::Release() {
  std::free(bytes);
  bytes = nullptr;
  length = 0;
  room = 0;
}

size_t WriteCallback(char* data, size_t size, size_t count, void* userData) {
  auto* body = static_cast<ResponseBody*>(userData);
  const size_t bytes = size * count;
  if (bytes > kMaxResponseSize - body->Size()) {
    return 0;
  }
  // Room grows by doubling from what has arrived: a length the server announces is not
  // trusted for more than that.
  body->Append(data, bytes);
  return bytes;
}

size_t HeaderCallback(char* data, size_t size, size_t count, void* userData) {
  const size_t bytes = size * count;
  if (bytes > kMaxHeaderLine) {
    return 0;
  }
  const std::string line(data, bytes);
  const size_t colon = line.find(':');
  if (colon == std::string::npos) {
    return bytes;
  }
  // The value keeps the blank after the colon and the carriage return; only the final line feed
  // is left out.
  const size_t valueStart = colon + 1;
  const size_t valueEnd = bytes - 1;
  std::string value = valueStart < valueEnd ? line.substr(valueStart, valueEnd - valueStart) : "";
  (*static_cast<HeaderMap*>(userData))[line.substr(0, colon)] = std::move(value);
  return bytes;
}

int ProgressCallback(void* signalsSurvived, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return interrupt::count() > *static_cast<const int*>(signalsSurvived) ? 1 : 0;
}

void _SetListOption(std::unordered_map<CURLoption, CurlList>& lists, CURLoption option,
                    CurlList list) {
  lists.erase(option);
  if (list) {
    lists.emplace(option, std::move(list));
  }
}

WebConnection::WebConnection() = default;

WebConnection::~WebConnection() {
  Clear();
}

void WebConnection::Clear() {
  sslFiles.clear();
  stringOptions.clear();
  longOptions.clear();
  proxyOptions.clear();
  listOptions.clear();
}

void WebConnection::AddHeader(const std::string& name, const std::string& value) {
  const std::string line = name + ": " + value;
  append(listOptions[CURLOPT_HTTPHEADER], line.c_str());
}

void WebConnection::SetHeaders(const std::map<std::string, std::string>& headers) {
  CurlList list;
  for (const auto& [name, value] : headers) {
    append(list, (name + ": " + value).c_str());
  }
  _SetListOption(listOptions, CURLOPT_HTTPHEADER, std::move(list));
}

bool WebConnection::SetOption(const std::string& name, const std::string& value) {
  CURLoption option;
  if (!lookUp(name, option)) {
    return false;
  }
  stringOptions[option] = value;
  return true;
}

bool WebConnection::SetOption(const std::string& name, const long& value) {
  CURLoption option;
  if (!lookUp(name, option)) {
    return false;
  }
  longOptions[option] = value;
  return true;
}

bool WebConnection::SetOption(const std::string& name, const std::vector<std::string>& values) {
  CURLoption option;
  if (!lookUp(name, option)) {
    return false;
  }
  CurlList list;
  for (const auto& value : values) {
    append(list, value.c_str());
  }
  _SetListOption(listOptions, option, std::move(list));
  return true;
}

void WebConnection::SetOtherOptions(CURL* handle) {
  for (const auto& [option, value] : stringOptions) {
    curl_easy_setopt(handle, option, value.c_str());
  }
  for (const auto& [option, value] : longOptions) {
    curl_easy_setopt(handle, option, value);
  }
  for (const auto& [option, list] : listOptions) {
    curl_easy_setopt(handle, option, list.get());
  }
}

bool WebConnection::Perform(const std::string& url, const std::string& method,
                            const std::string& payload) {
  return Perform(url, method, payload, nullptr);
}

bool WebConnection::Perform(const std::string& url, const std::string& method,
                            const BodySource& body) {
  return Perform(url, method, {}, &body);
}

bool WebConnection::Perform(const std::string& url, const std::string& method,
                            std::string_view payload, const BodySource* source) {
  if (interruptible) {
    interrupt::throwIfPending();
  }
  CurlEasy easy = newEasyHandle();
  response.Clear();
  responseHeaders.clear();
  if (!easy) {
    responseCode = 2;
    errorMessage = string::format("CURL(): %ld CURL init failed", 2L);
    return false;
  }
  CURL* handle = easy.get();

  curl_easy_setopt(handle, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
  curl_easy_setopt(handle, CURLOPT_USERAGENT, "korv_cli");
  curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
  // Only HTTP and HTTPS, redirects included: any other scheme fails before a connection is made.
  // A URL without a scheme is HTTP.
  curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(handle, CURLOPT_DEFAULT_PROTOCOL, "http");
  curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, method.c_str());
  Transfer transfer;
  transfer.body = &response;
  transfer.headers = &responseHeaders;
  if (!payload.empty() || source != nullptr) {
    // Both kinds of body are read through the callbacks, so that none is ever sent twice.
    transfer.payload = payload;
    transfer.source = source;
    transfer.size = source != nullptr ? source->size : payload.size();
    startBody(transfer);
    curl_easy_setopt(handle, CURLOPT_POST, 1L);
    curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(transfer.size));
    curl_easy_setopt(handle, CURLOPT_READFUNCTION, readBody);
    curl_easy_setopt(handle, CURLOPT_READDATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_SEEKFUNCTION, seekBody);
    curl_easy_setopt(handle, CURLOPT_SEEKDATA, &transfer);
  }
  SetSSLOptions(handle);
  SetProxySettings(handle);
  SetOtherOptions(handle);
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, writeBody);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(handle, CURLOPT_HEADERDATA, &transfer);
  curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, writeHeader);
  std::array<char, CURL_ERROR_SIZE> errorBuffer{};
  curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorBuffer.data());
  curl_easy_setopt(handle, CURLOPT_BUFFERSIZE, kReceiveBufferSize);
  curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, followLocation ? 1L : 0L);
  int signalsSurvived = interruptible ? 0 : 1;
  curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, ProgressCallback);
  curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &signalsSurvived);
  SetTimeoutOptions(handle);

  LOG_INFO << "Calling with URL='" << string::hideUserInfo(url) << "' METHOD='" << method << "'";
  CURLcode result = curl_easy_perform(handle);
  LOG_DEBUG << "curl_easy_perform returns: " << static_cast<long>(result);
  std::string detail = errorBuffer.data();
  if (transfer.resendRefused) {
    // libcurl reports the refused rewind as a failure of its own; what happened is that the
    // server took the whole request and closed the connection without a word.
    result = CURLE_GOT_NOTHING;
    detail = "The request went out whole before its connection closed: it is not sent again.";
  }
  responseCode = result;
  if (transfer.failure) {
    std::rethrow_exception(transfer.failure);
  }
  if (transfer.bodyRefused) {
    // Nothing of a refused answer is used: the part that arrived is dropped.
    response.Release();
    LOG_WARNING << "The answer is larger than " << kMaxResponseSize << " bytes.";
  }
  if (interruptible && interrupt::signal() != 0) {
    LOG_WARNING << "The request to '" << string::hideUserInfo(url) << "' was interrupted.";
    throw interrupt::Interrupted(interrupt::signal());
  }

  if (result != CURLE_OK) {
    errorMessage = string::format("CURL: %ld %s %s", static_cast<long>(result),
                                  curl_easy_strerror(result), detail.c_str());
    LOG_WARNING << "Failed curl_easy_perform(..) with error code: " << static_cast<long>(result)
                << ", error: " << errorMessage;
    if (result == CURLE_OPERATION_TIMEDOUT) {
      LOG_WARNING << "The request to '" << string::hideUserInfo(url) << "' ran out of time ("
                  << DescribeTimeouts() << ").";
    }
    return false;
  }

  curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &responseCode);
  LOG_INFO << "Response Code: " << responseCode;
  const bool success = responseCode >= 200 && responseCode <= 299;
  if (!success) {
    // No separator between the status and the body: the system's own text, kept on purpose.
    errorMessage = "HTTP: " + std::to_string(responseCode) + std::string(response.View());
  }
  LOG_DEBUG << "ResponseText: " << response.View();
  return success;
}

}  // namespace korv::web
