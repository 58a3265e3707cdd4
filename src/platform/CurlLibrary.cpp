#include "platform/CurlLibrary.h"

#include <dlfcn.h>
#include <malloc.h>

#include <mutex>

namespace net {
namespace {

std::mutex lock;
void* library = nullptr;
int holders = 0;
CurlApi api;

template <typename F>
bool bind(F* function, const char* name) {
  *function = reinterpret_cast<F>(dlsym(library, name));
  return *function != nullptr;
}

bool bindAll() {
  return bind(&api.globalInit, "curl_global_init") && bind(&api.globalCleanup, "curl_global_cleanup") &&
         bind(&api.easyInit, "curl_easy_init") && bind(&api.easyCleanup, "curl_easy_cleanup") &&
         bind(&api.easyReset, "curl_easy_reset") && bind(&api.easySetopt, "curl_easy_setopt") &&
         bind(&api.easyPerform, "curl_easy_perform") && bind(&api.easyGetinfo, "curl_easy_getinfo") &&
         bind(&api.easyStrerror, "curl_easy_strerror") && bind(&api.slistAppend, "curl_slist_append") &&
         bind(&api.slistFreeAll, "curl_slist_free_all");
}

}  // namespace

const CurlApi* acquireCurl(std::string* error) {
  std::lock_guard<std::mutex> guard(lock);
  if (holders > 0) {
    ++holders;
    return &api;
  }
  library = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    const char* why = dlerror();
    *error = std::string("libcurl cannot be loaded: ") + (why ? why : "libcurl.so.4");
    return nullptr;
  }
  if (!bindAll() || api.globalInit(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
    *error = "libcurl.so.4 lacks a function or cannot start";
    dlclose(library);
    library = nullptr;
    return nullptr;
  }
  holders = 1;
  return &api;
}

void releaseCurl() {
  std::lock_guard<std::mutex> guard(lock);
  if (holders == 0 || --holders > 0) return;
  api.globalCleanup();
  dlclose(library);
  library = nullptr;
  malloc_trim(0);  // what the libraries freed goes back to the system
}

}  // namespace net
