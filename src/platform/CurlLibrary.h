// libcurl, loaded with dlopen when a request needs it and unloaded when the
// last holder lets go: a service idling between requests keeps none of
// libcurl's two dozen shared libraries resident. Native only.
#pragma once
#include <curl/curl.h>

#include <string>

namespace net {

// The functions of libcurl that are used (no type-checking macros here:
// option values must be passed as long, pointers or curl_off_t).
struct CurlApi {
  CURLcode (*globalInit)(long flags);
  void (*globalCleanup)();
  CURL* (*easyInit)();
  void (*easyCleanup)(CURL* curl);
  void (*easyReset)(CURL* curl);
  CURLcode (*easySetopt)(CURL* curl, CURLoption option, ...);
  CURLcode (*easyPerform)(CURL* curl);
  CURLcode (*easyGetinfo)(CURL* curl, CURLINFO info, ...);
  const char* (*easyStrerror)(CURLcode code);
  curl_slist* (*slistAppend)(curl_slist* list, const char* text);
  void (*slistFreeAll)(curl_slist* list);
};

// Loads libcurl (once for all holders, curl_global_init included) and
// counts one holder; null with `error` when it cannot be loaded.
const CurlApi* acquireCurl(std::string* error);
// One holder lets go; the last one cleans up and unloads the library.
void releaseCurl();

}  // namespace net
