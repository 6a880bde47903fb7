#include "update/PackageDownload.h"

#include <cerrno>
#include <chrono>
#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "os/CodePage.h"
#include "os/FileSystem.h"
#include "update/ResumeState.h"
#include "update/UpdateLog.h"

namespace {

const char kFunc[] = "CGameRemoteConfig::OnDownLoad";

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() { Close(); }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int Get() const { return fd_; }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

// What the two callbacks share.
struct TransferContext {
  UpdateState* state = nullptr;
  const InstallLayout* layout = nullptr;
  int fd = -1;
  IWindowOperations* window = nullptr;
  CURL* curl = nullptr;
  int64_t resumeOffset = 0;
  std::string shownText;  // the progress text last shown
  std::chrono::steady_clock::time_point lastCheckpoint;
};

// Records the total once the server has announced it; an unknown size leaves the old value,
// so that a save at that moment does not turn a partial package into a "complete" one.
void NoteAnnouncedSize(DownloadCounters& c, int64_t resumeOffset, int64_t remaining) {
  if (remaining > 0) c.totalSize = resumeOffset + remaining;
}

// Package sink. The bytes go straight to the file (no user-space buffer) and the counter moves
// under the same lock, so a save on another thread always sees a count the file really holds.
size_t PackageWrite(char* data, size_t size, size_t count, void* userdata) {
  auto* ctx = static_cast<TransferContext*>(userdata);
  if (!ctx || ctx->fd < 0) return 0;
  const size_t bytes = size * count;
  curl_off_t announced = -1;
  curl_easy_getinfo(ctx->curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
  size_t written = 0;
  ctx->state->UpdateCounters([&](DownloadCounters& c) {
    while (written < bytes) {
      ssize_t n = ::write(ctx->fd, data + written, bytes - written);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      written += static_cast<size_t>(n);
    }
    c.downloadedBytes += static_cast<int64_t>(written);
    NoteAnnouncedSize(c, ctx->resumeOffset, announced);
  });
  auto now = std::chrono::steady_clock::now();
  if (now - ctx->lastCheckpoint >= ctx->state->checkpointInterval) {
    ctx->lastCheckpoint = now;
    resume_detail::SaveCheckpoint(*ctx->state, *ctx->layout);
  }
  return written;
}

// Progress tick: percent of the whole package; aborts the transfer once the launcher is closing.
int PackageProgress(void* userdata, curl_off_t dltotal, curl_off_t /*dlnow*/, curl_off_t /*ultotal*/,
                    curl_off_t /*ulnow*/) {
  auto* ctx = static_cast<TransferContext*>(userdata);
  if (!ctx) return 0;
  if (ctx->state->CancelRequested()) return 1;
  DownloadCounters c;
  ctx->state->UpdateCounters([&](DownloadCounters& counters) {
    NoteAnnouncedSize(counters, ctx->resumeOffset, dltotal);
    c = counters;
  });
  int percent = 0;
  std::string text = "0%";
  if (dltotal != 0 && c.totalSize > 0) {
    int64_t p = c.downloadedBytes * 100 / c.totalSize;
    percent = static_cast<int>(p > 100 ? 100 : p < 0 ? 0 : p);
    text = std::to_string(percent) + "%";
  }
  // The window only changes when the text does; repeating the same values would only cost the
  // transfer a round trip to the UI thread per chunk.
  if (text != ctx->shownText && ctx->window) {
    ctx->shownText = text;
    ctx->window->SetProgress("", text, percent, 1);
    ctx->window->ShowProgressView();
  }
  return 0;
}

int64_t FileSize(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : 0;
}

}  // namespace

bool PackageDownload::Init() {
  curl_ = NewCurlHandle();
  if (!curl_) {
    update_log::Error("curl is NULL!", kFunc, 517);
    return false;
  }
  return true;
}

PackageDownload::Start PackageDownload::Decide() {
  start_ = state_.Counters();
  if (CompareVersions(start_.downloadVersion, state_.miniUpdateVersion) < 0) {
    update_log::Info("Download version is elder than mini update version. Restart downloading resources.", kFunc,
                     580);
    return Start::Restart;
  }
  if (start_.resumeOffset <= 0 || start_.resumeOffset >= start_.totalSize) {
    update_log::Info("Try unzipping old resource...", kFunc, 602);
    return Start::TryOldPackage;
  }
  update_log::Info("Try Resuming download from break point.", kFunc, 589);
  if (!(start_.downloadVersion == state_.remoteClientVersion)) {
    update_log::Info(
        "Could not resume from break point because of the different version between local machine and remote "
        "server...",
        kFunc, 595);
    return Start::Restart;
  }
  return Start::Resume;
}

int64_t PackageDownload::SettleResumeOffset(bool fromScratch) {
  const std::string& packagePath = layout_.packagePath;
  int64_t resumeOffset = 0;
  resume_detail::WithSavesHeld(state_, [&] {
    if (fromScratch) {
      if (os::PathExists(packagePath)) os::RemoveFile(packagePath);
    } else {
      // The file is what counts: after a kill it may hold more than the last saved offset (cut it
      // back, or the resumed bytes would follow a duplicate), or less when it was tampered with
      // (resume from what is there).
      resumeOffset = start_.resumeOffset;
      int64_t onDisk = FileSize(packagePath);
      if (onDisk < resumeOffset) {
        update_log::Info(update_log::Format(update_log::kShort, "package holds %lld of %lld bytes",
                                            static_cast<long long>(onDisk), static_cast<long long>(resumeOffset)),
                         kFunc, 597);
        resumeOffset = onDisk;
      } else if (onDisk > resumeOffset && ::truncate(packagePath.c_str(), resumeOffset) != 0) {
        os::RemoveFile(packagePath);
        resumeOffset = 0;
      }
    }
    state_.UpdateCounters([&](DownloadCounters& c) {
      c.resumeOffset = resumeOffset;
      c.downloadedBytes = resumeOffset;
    });
  });
  return resumeOffset;
}

PackageDownload::Result PackageDownload::Transfer(const std::string& url, bool fromScratch,
                                                  IWindowOperations* window) {
  CurlPtr curl = std::move(curl_);  // released on every way out
  const std::string& packagePath = layout_.packagePath;
  const int64_t resumeOffset = SettleResumeOffset(fromScratch);

  int fd = ::open(packagePath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) fd = ::open(packagePath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    update_log::Error("install_dir is NULL!", kFunc, 652);
    return Result::FileError;
  }
  FileDescriptor package(fd);

  // From now on a saved state names the version being downloaded.
  state_.UpdateCounters([&](DownloadCounters& c) { c.downloadVersion = state_.remoteClientVersion; });

  TransferContext ctx;
  ctx.state = &state_;
  ctx.layout = &layout_;
  ctx.fd = package.Get();
  ctx.window = window;
  ctx.curl = curl.get();
  ctx.resumeOffset = resumeOffset;
  ctx.lastCheckpoint = std::chrono::steady_clock::now();

  std::string ansiUrl = os::Utf8ToAnsi(url);
  curl_easy_setopt(curl.get(), CURLOPT_URL, ansiUrl.c_str());
  curl_easy_setopt(curl.get(), CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, PackageWrite);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &ctx);
  curl_easy_setopt(curl.get(), CURLOPT_XFERINFOFUNCTION, PackageProgress);
  curl_easy_setopt(curl.get(), CURLOPT_XFERINFODATA, &ctx);
  curl_easy_setopt(curl.get(), CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl.get(), CURLOPT_RESUME_FROM_LARGE, static_cast<curl_off_t>(resumeOffset));

  CURLcode res = curl_easy_perform(curl.get());
  long status = 0;
  curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status);
  resume_detail::SaveCheckpoint(state_, layout_);  // whatever happened, record what the file now holds
  curl.reset();
  package.Close();

  // A resumed request must come back as partial content; a full body would be appended after the
  // bytes already there.
  bool ok = res == CURLE_OK && (status == 200 || status == 206) && (resumeOffset == 0 || status == 206);
  return ok ? Result::Done : Result::TransferFailed;
}
