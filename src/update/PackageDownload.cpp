#include "update/PackageDownload.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <utility>

#include "net/HttpTransfer.h"
#include "net/TransferSink.h"
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

// Records the total once the server has announced it; an unknown size leaves the old value,
// so that a save at that moment does not turn a partial package into a "complete" one.
void NoteAnnouncedSize(DownloadCounters& c, int64_t resumeOffset, int64_t remaining) {
  if (remaining > 0) c.totalSize = resumeOffset + remaining;
}

// Package sink. The bytes go straight to the file (no user-space buffer) and the counter moves
// under the same lock, so a save on another thread always sees a count the file really holds.
// About once per checkpoint interval it records the resume state, so a killed launcher resumes.
class PackageSink final : public TransferSink {
 public:
  PackageSink(UpdateState& state, const InstallLayout& layout, int fd, int64_t resumeOffset)
      : state_(state),
        layout_(layout),
        fd_(fd),
        resumeOffset_(resumeOffset),
        lastCheckpoint_(std::chrono::steady_clock::now()) {}

  SinkStatus Write(const char* data, size_t size, int64_t announced) override {
    size_t written = 0;
    state_.UpdateCounters([&](DownloadCounters& c) {
      while (written < size) {
        ssize_t n = ::write(fd_, data + written, size - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        written += static_cast<size_t>(n);
      }
      c.downloadedBytes += static_cast<int64_t>(written);
      NoteAnnouncedSize(c, resumeOffset_, announced);
    });
    const auto now = std::chrono::steady_clock::now();
    if (now - lastCheckpoint_ >= state_.checkpointInterval) {
      lastCheckpoint_ = now;
      SaveResumeState(state_, layout_);
    }
    return written == size ? SinkStatus::Ok : SinkStatus::WriteFailed;
  }

 private:
  UpdateState& state_;
  const InstallLayout& layout_;
  const int fd_;
  const int64_t resumeOffset_;
  std::chrono::steady_clock::time_point lastCheckpoint_;
};

// Progress: percent of the whole package, shown when its text changes; false stops the transfer
// once the launcher is closing.
class PackageProgress {
 public:
  PackageProgress(UpdateState& state, IWindowOperations* window, int64_t resumeOffset)
      : state_(state), window_(window), resumeOffset_(resumeOffset) {}

  bool operator()(int64_t total, int64_t /*now*/) {
    if (state_.CancelRequested()) return false;
    DownloadCounters c;
    state_.UpdateCounters([&](DownloadCounters& counters) {
      NoteAnnouncedSize(counters, resumeOffset_, total);
      c = counters;
    });
    int percent = 0;
    std::string text = "0%";
    if (total != 0 && c.totalSize > 0) {
      int64_t p = c.downloadedBytes * 100 / c.totalSize;
      percent = static_cast<int>(p > 100 ? 100 : p < 0 ? 0 : p);
      text = std::to_string(percent) + "%";
    }
    // The window only changes when the text does; repeating the same values would only cost the
    // transfer a round trip to the UI thread per block.
    if (text != shownText_ && window_) {
      shownText_ = text;
      window_->SetProgress("", text, percent, 1);
      window_->ShowProgressView();
    }
    return true;
  }

 private:
  UpdateState& state_;
  IWindowOperations* window_;
  const int64_t resumeOffset_;
  std::string shownText_;  // the progress text last shown
};

int64_t FileSize(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : 0;
}

}  // namespace

bool PackageDownload::Init() {
  if (!InitHttpTransfers()) {
    update_log::Error("curl is NULL!", kFunc, 517);
    return false;
  }
  return true;
}

PackageDownload::Start PackageDownload::Decide() {
  start_ = state_.Counters();
  if (CompareVersions(start_.downloadVersion, state_.miniUpdateVersion) < 0) {
    update_log::Info("Download version is elder than mini update version. Restart downloading resources.", kFunc, 580);
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

PackageDownload::Result PackageDownload::Transfer(const std::string& url, bool fromScratch, IWindowOperations* window) {
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

  TransferRequest request;
  request.url = os::Utf8ToAnsi(url);
  request.resumeFrom = resumeOffset;
  request.progress = PackageProgress(state_, window, resumeOffset);
  PackageSink sink(state_, layout_, package.Get(), resumeOffset);
  const TransferResult result = PerformTransfer(request, sink);
  SaveResumeState(state_, layout_);  // whatever happened, record what the file now holds
  package.Close();

  // A resumed request must come back as partial content; a full body would be appended after the
  // bytes already there.
  const long status = result.httpStatus;
  bool ok = result.Ok() && (status == 200 || status == 206) && (resumeOffset == 0 || status == 206);
  return ok ? Result::Done : Result::TransferFailed;
}
