// One libcurl easy handle, owned; the process-wide libcurl initialisation happens once on first use.
#pragma once

#include <curl/curl.h>
#include <memory>
#include <mutex>

struct CurlCleanup {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
using CurlPtr = std::unique_ptr<CURL, CurlCleanup>;

// A new easy handle (null when libcurl cannot make one). Any thread.
inline CurlPtr NewCurlHandle() {
  static std::once_flag init;
  std::call_once(init, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  return CurlPtr(curl_easy_init());
}
