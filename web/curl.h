// Owners of libcurl resources, and the process-wide libcurl state.
#pragma once

#include <curl/curl.h>

#include <memory>

namespace korv::web {

struct CurlEasyDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
// One easy handle; cleaned up when the owner goes.
using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;

struct CurlListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
// One string list (header lines, mail recipients); freed when the owner goes.
using CurlList = std::unique_ptr<curl_slist, CurlListDeleter>;

// Appends a copy of the text to the list; throws std::bad_alloc when libcurl cannot.
void append(CurlList& list, const char* text);

// A new easy handle (empty when libcurl cannot make one). All handles of a run share one
// connection cache, TLS session cache and DNS cache, so the requests of a run travel over one
// kept-alive connection with one TLS handshake.
CurlEasy newEasyHandle();

}  // namespace korv::web
