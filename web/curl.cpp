#include "web/curl.h"

#include <new>

namespace korv::web {

namespace {

struct CurlShareDeleter {
  void operator()(CURLSH* share) const { curl_share_cleanup(share); }
};
using CurlShare = std::unique_ptr<CURLSH, CurlShareDeleter>;

// libcurl's global set-up and the shared caches, for the life of the process. Easy handles are
// created and cleaned up within one request, so none is attached when this goes.
class CurlGlobal {
 public:
  CurlGlobal() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    share.reset(curl_share_init());
    if (share) {
      curl_share_setopt(share.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
      curl_share_setopt(share.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
      curl_share_setopt(share.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    }
  }
  ~CurlGlobal() {
    share.reset();
    curl_global_cleanup();
  }
  CurlGlobal(const CurlGlobal&) = delete;
  CurlGlobal& operator=(const CurlGlobal&) = delete;

  CURLSH* Share() const { return share.get(); }

 private:
  CurlShare share;
};

CurlGlobal& global() {
  static CurlGlobal instance;
  return instance;
}

}  // namespace

void append(CurlList& list, const char* text) {
  curl_slist* head = curl_slist_append(list.get(), text);
  if (head == nullptr) {
    throw std::bad_alloc();
  }
  if (!list) {
    list.reset(head);
  }
}

CurlEasy newEasyHandle() {
  CURLSH* share = global().Share();
  CurlEasy handle(curl_easy_init());
  if (handle && share != nullptr) {
    curl_easy_setopt(handle.get(), CURLOPT_SHARE, share);
  }
  return handle;
}

}  // namespace korv::web
