#include "update/RemoteConfigFetch.h"

#include <cstring>
#include <curl/curl.h>

#include "Identity.h"
#include "os/CodePage.h"
#include "update/CurlEasy.h"
#include "update/Placeholders.h"
#include "update/UpdateLog.h"

namespace {

const char kWorker[] = "CGameRemoteConfig::InitRemoteConfig";

// Configuration body sink (update worker, inside curl_easy_perform). The raw bytes are kept and
// converted as a whole once the transfer is over, so a multi-byte character split across two
// chunks survives. A chunk still ends at its first zero byte, as the text conversion always did.
size_t ConfigWrite(char* data, size_t size, size_t count, void* userdata) {
  auto* body = static_cast<std::string*>(userdata);
  if (!body) return 0;
  size_t bytes = size * count;
  const void* zero = std::memchr(data, 0, bytes);
  body->append(data, zero ? static_cast<size_t>(static_cast<const char*>(zero) - data) : bytes);
  return bytes;
}

}  // namespace

RemoteConfigFetch::Result RemoteConfigFetch::Run() {
  std::string url = ReplaceAll(urlTemplate_, "{ditch_name}", identity::ChannelName);
  update_log::Info(url, kWorker, 140);

  CurlPtr handle = NewCurlHandle();
  if (!handle) return Result::NoHandle;
  CURL* curl = handle.get();

  std::string body;
  std::string ansiUrl = os::Utf8ToAnsi(url);
  curl_easy_setopt(curl, CURLOPT_URL, ansiUrl.c_str());
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, ConfigWrite);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  // Progress on without a function of its own: libcurl's meter goes to standard error.
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);

  CURLcode res = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  transferResult_ = static_cast<int>(res);
  httpStatus_ = status;
  handle.reset();

  if (res != CURLE_OK || status != 200) {
    update_log::Error(update_log::Format(update_log::kShort, "res:%d, httpStatusCode:%d", static_cast<int>(res),
                                         static_cast<int>(status)),
                      kWorker, 200);
    return Result::TransferFailed;
  }
  table_.Parse(os::AnsiToUtf8(body));
  return Result::Ok;
}
