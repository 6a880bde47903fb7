#include "update/RemoteConfigFetch.h"

#include <cstring>

#include "Identity.h"
#include "net/HttpTransfer.h"
#include "net/TransferSink.h"
#include "os/CodePage.h"
#include "update/Placeholders.h"
#include "update/UpdateLog.h"

namespace {

const char kWorker[] = "CGameRemoteConfig::InitRemoteConfig";

// A configuration document is a few key=value lines; anything this large is not one.
constexpr size_t kMaxDocument = 1 << 20;

// The document's bytes, kept raw and converted as a whole once the transfer is over, so a
// multi-byte character split across two blocks survives. A block still ends at its first zero
// byte, as the text conversion always did.
class ConfigSink final : public TransferSink {
 public:
  SinkStatus Write(const char* data, size_t size, int64_t announced) override {
    const void* zero = std::memchr(data, 0, size);
    const size_t kept = zero ? static_cast<size_t>(static_cast<const char*>(zero) - data) : size;
    return body_.Write(data, kept, announced);
  }
  std::string TakeBody() { return body_.TakeBody(); }

 private:
  StringSink body_{kMaxDocument};
};

}  // namespace

RemoteConfigFetch::Result RemoteConfigFetch::Stopped() {
  update_log::Info("configuration fetch stopped, the launcher is closing", kWorker, 201);
  return Result::Stopped;
}

RemoteConfigFetch::Result RemoteConfigFetch::Run() {
  std::string url = ReplaceAll(urlTemplate_, "{ditch_name}", identity::ChannelName);
  update_log::Info(url, kWorker, 140);
  if (!InitHttpTransfers()) return Result::NoHandle;

  auto stopping = [this] { return stopRequested_ && stopRequested_(); };
  if (stopping()) return Stopped();

  TransferRequest request;
  request.url = os::Utf8ToAnsi(url);
  request.progress = [&stopping](int64_t, int64_t) { return !stopping(); };
  ConfigSink sink;
  const ::TransferResult result = PerformTransfer(request, sink);
  transferResult_ = static_cast<int>(result.code);
  httpStatus_ = result.httpStatus;
  if (result.code == CURLE_ABORTED_BY_CALLBACK) return Stopped();

  if (!result.Ok() || result.httpStatus != 200) {
    update_log::Error(update_log::Format(update_log::kShort, "res:%d, httpStatusCode:%d", transferResult_,
                                         static_cast<int>(httpStatus_)),
                      kWorker, 200);
    return Result::TransferFailed;
  }
  table_.Parse(os::AnsiToUtf8(sink.TakeBody()));
  return Result::Ok;
}
