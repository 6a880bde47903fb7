#include "update/PackageDownload.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>
#include <vector>

#include "net/HttpTransfer.h"
#include "net/TransferSink.h"
#include "os/CodePage.h"
#include "os/DirectWriter.h"
#include "os/File.h"
#include "os/FileSystem.h"
#include "update/ResumeCheckpoints.h"
#include "update/ResumeState.h"
#include "update/UpdateLog.h"

namespace {

const char kFunc[] = "CGameRemoteConfig::OnDownLoad";

// libcurl's receive block for the package. Measured on a 519 MiB package over loopback: with the
// default 16 KiB the transfer took about 15 % longer (a callback, a lock and a copy per block);
// larger blocks than this gained nothing more.
constexpr long kReceiveBlock = 512 * 1024;

// Records the total once the server has announced it; an unknown size leaves the old value,
// so that a save at that moment does not turn a partial package into a "complete" one.
void NoteAnnouncedSize(DownloadCounters& c, int64_t resumeOffset, int64_t remaining) {
  if (remaining > 0) c.totalSize = resumeOffset + remaining;
}

// Package sink. The bytes go to the file through a direct writer (os/DirectWriter.h: a large
// package costs no fresh page-cache pages, and the writing runs beside the transfer), and the
// counter moves only once they are in the file, so a save on another thread always sees a count
// the file really holds. About once per checkpoint interval it has the resume state recorded, on a
// thread of its own so that the transfer never waits for the disk, and a killed launcher resumes
// from there. The digest, when one is taken, is taken by the writer's inspector,
// beside the writing: it sees every byte handed to the writer, and a byte that does not reach the
// file is a write failure, which ends the download.
class PackageSink final : public TransferSink {
 public:
  PackageSink(UpdateState& state, const InstallLayout& layout, os::FileHandle fd, int64_t resumeOffset,
              Sha256Digest* digest, const std::function<void(int64_t)>& observer)
      : state_(state),
        layout_(layout),
        resumeOffset_(resumeOffset),
        lastCheckpoint_(std::chrono::steady_clock::now()),
        lastFlush_(lastCheckpoint_),
        checkpoints_(state, layout),
        writer_(fd, static_cast<uint64_t>(resumeOffset), os::DirectWriter::Mode::Direct,
                {[this, &observer](const uint8_t*, size_t size) {
                   // Writer thread.
                   int64_t inFile = 0;
                   state_.UpdateCounters(
                       [&](DownloadCounters& c) { inFile = c.downloadedBytes += static_cast<int64_t>(size); });
                   if (observer) observer(inFile);
                 },
                 digest ? os::DirectWriter::BytesHook([digest](const uint8_t* data, size_t size) {
                   digest->Add(data, size);  // inspector thread, outside the lock: saves need not wait for it
                 })
                        : nullptr}) {}

  SinkStatus Write(const char* data, size_t size, int64_t announced) override {
    if (taken_ == 0 && announced > 0) {
      // Before the first byte: a package over the limit, or one the disk cannot hold, is refused
      // before it fills the disk.
      if (announced > state_.packageSizeLimit - resumeOffset_) return SinkStatus::TooLarge;
      const int64_t free = os::FreeBytes(layout_.installDir);
      if (free >= 0 && free < announced) {
        error_ = ENOSPC;
        return SinkStatus::WriteFailed;
      }
    }
    // An unannounced body counts against the limit as it arrives.
    if (static_cast<int64_t>(size) > state_.packageSizeLimit - resumeOffset_ - taken_) return SinkStatus::TooLarge;
    taken_ += static_cast<int64_t>(size);
    if (!writer_.Append(data, size)) return SinkStatus::WriteFailed;
    state_.UpdateCounters([&](DownloadCounters& c) { NoteAnnouncedSize(c, resumeOffset_, announced); });
    const auto now = std::chrono::steady_clock::now();
    // A fast transfer fills the writer's buffers within milliseconds; a slow one has its bytes
    // handed over now and then, so that the display moves and a kill loses little.
    if (now - lastFlush_ >= kFlushInterval) {
      lastFlush_ = now;
      if (!writer_.Flush()) return SinkStatus::WriteFailed;
    }
    if (now - lastCheckpoint_ >= state_.checkpointInterval) {
      lastCheckpoint_ = now;
      checkpoints_.Request();
    }
    return SinkStatus::Ok;
  }

  // Waits until every byte taken is in the file (and in the digest); false when a write failed.
  bool Finish() { return writer_.Finish(); }
  // The errno of the local failure that ended the transfer (a shortfall of space found before the
  // first byte, or the failed write), 0 when none.
  int Error() const { return error_ ? error_ : writer_.Failed() ? writer_.Error() : 0; }

 private:
  UpdateState& state_;
  const InstallLayout& layout_;
  const int64_t resumeOffset_;
  int64_t taken_ = 0;  // body bytes taken by this attempt
  int error_ = 0;
  static constexpr std::chrono::milliseconds kFlushInterval{100};

  std::chrono::steady_clock::time_point lastCheckpoint_;
  std::chrono::steady_clock::time_point lastFlush_;
  ResumeCheckpoints checkpoints_;
  os::DirectWriter writer_;  // last: its thread stops before the members its hook uses go
};

// Progress: percent of the whole package, shown when its text changes; false stops the transfer
// once the launcher is closing. One for the whole download, so a further attempt continues the
// display where the last one left it.
class PackageProgress {
 public:
  PackageProgress(UpdateState& state, IWindowOperations* window) : state_(state), window_(window) {}

  // A tick of an attempt; total is what libcurl expects of the answer, 0 while unknown. The
  // package's size comes from the sink, which sees only a successful answer's body: the length of
  // an error page is no package size.
  bool operator()(int64_t total) {
    if (state_.CancelRequested()) return false;
    const DownloadCounters c = state_.Counters();
    int percent = 0;
    std::string text = "0%";
    if (total != 0 && c.totalSize > 0) {
      int64_t p = c.downloadedBytes * 100 / c.totalSize;
      percent = static_cast<int>(p > 100 ? 100 : p < 0 ? 0 : p);
      text = std::to_string(percent) + "%";
    } else if (!shownText_.empty()) {
      return true;  // a further attempt before its size is known: the display stays
    }
    // The window only changes when the text does; repeating the same values per block would only
    // keep the UI thread applying what it already shows.
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
  std::string shownText_;  // the progress text last shown
};

// A failure that another attempt may well not meet: the connection was cut or reset, nothing came
// for the stall limit, or the server answered 5xx. A refusal by the server (4xx), an answer that
// does not continue at the offset, a disk error and the launcher closing are final.
bool IsTransient(const TransferResult& r) {
  if (r.sinkStatus != SinkStatus::Ok) return false;
  if (r.httpStatus >= 500 && r.httpStatus < 600) return true;
  switch (r.code) {
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING:
    case CURLE_OPERATION_TIMEDOUT:  // a stall, or a connection that never came up
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM: return true;
    default: return false;
  }
}

std::string Reason(const TransferResult& r) {
  if (r.Ok()) return "answer " + std::to_string(r.httpStatus);
  return "res:" + std::to_string(static_cast<int>(r.code)) + " " + r.errorText +
         (r.httpStatus ? ", answer " + std::to_string(r.httpStatus) : "");
}

int64_t FileSize(const std::string& path) { return std::max<int64_t>(0, os::RegularFileSize(path)); }

// Cuts the file at path to size bytes. 0 or the errno.
int CutTo(const std::string& path, int64_t size) {
  int error = 0;
  os::File file = os::File::Open(path, os::File::Access::ReadWrite, &error);
  return file.IsOpen() ? file.Truncate(static_cast<uint64_t>(size)) : error;
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
  const bool offeredVersion = start_.downloadVersion == state_.remoteClientVersion;
  const char* otherVersion =
      "Could not resume from break point because of the different version between local machine and remote "
      "server...";
  if (start_.resumeOffset <= 0 || start_.resumeOffset >= start_.totalSize) {
    update_log::Info("Try unzipping old resource...", kFunc, 602);
    // A package of another version would be installed and recorded as the offered one.
    if (!offeredVersion) {
      update_log::Info(update_log::Format(update_log::kShort,
                                          "the package on disk is of version %s, not the offered one: not unzipped",
                                          FormatVersion(start_.downloadVersion).c_str()),
                       kFunc, 603);
      return Start::Restart;
    }
    return Start::TryOldPackage;
  }
  update_log::Info("Try Resuming download from break point.", kFunc, 589);
  if (!offeredVersion) {
    update_log::Info(otherVersion, kFunc, 595);
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
      } else if (onDisk > resumeOffset && CutTo(packagePath, resumeOffset) != 0) {
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

PackageDownload::Result PackageDownload::Transfer(const std::string& url, bool fromScratch, IWindowOperations* window,
                                                  bool takeDigest) {
  const std::string& packagePath = layout_.packagePath;
  int64_t resumeOffset = SettleResumeOffset(fromScratch);

  // Readable too: a digest starts with the bytes already there. The sink writes at the offsets.
  os::File package = os::File::Open(packagePath, os::File::Access::ReadWrite);
  if (!package.IsOpen()) {
    update_log::Error("install_dir is NULL!", kFunc, 652);
    return Result::FileError;
  }

  digest_.Reset();
  if (takeDigest && resumeOffset > 0 && !digest_.AddFile(package, resumeOffset)) {
    // The part on disk cannot be read back: fetch it again rather than vouch for it unseen.
    update_log::Info("package cannot be read back, downloading it from the start", kFunc, 598);
    resume_detail::WithSavesHeld(state_, [&] {
      if (package.Truncate(0) != 0) return;
      resumeOffset = 0;
      state_.UpdateCounters([](DownloadCounters& c) { c.resumeOffset = c.downloadedBytes = 0; });
    });
    if (resumeOffset != 0) return Result::FileError;
    digest_.Reset();
  }

  if (observer_) observer_(resumeOffset);

  // From now on a saved state names the version being downloaded.
  state_.UpdateCounters([&](DownloadCounters& c) { c.downloadVersion = state_.remoteClientVersion; });

  PackageProgress progress(state_, window);
  const std::vector<std::chrono::milliseconds> waits = state_.retryWaits;
  const int attempts = static_cast<int>(waits.size()) + 1;
  bool restarted = false;
  for (int attempt = 1;; ++attempt) {
    // Each attempt asks for the bytes after those the file holds.
    int64_t from = 0;
    state_.UpdateCounters([&](DownloadCounters& c) { from = c.resumeOffset = c.downloadedBytes; });

    TransferRequest request;
    request.url = os::Utf8ToAnsi(url);
    request.resumeFrom = from;
    request.successBodyOnly = true;  // an error page must never become part of the package
    request.stallMs = static_cast<long>(state_.packageStallLimit.count());
    request.bufferSize = kReceiveBlock;
    request.progress = [&progress](int64_t total, int64_t) { return progress(total); };
    PackageSink sink(state_, layout_, package.Handle(), from, takeDigest ? &digest_ : nullptr, observer_);
    TransferResult result = PerformTransfer(request, sink);
    if (!sink.Finish()) {
      result.sinkStatus = SinkStatus::WriteFailed;
      if (result.Ok()) result.code = CURLE_WRITE_ERROR;
    }
    localError_ = result.sinkStatus == SinkStatus::WriteFailed ? sink.Error() : 0;
    SaveResumeState(state_, layout_);  // whatever happened, record what the file now holds
    // The last bytes reach the file after the transfer's last progress tick (-1: no new size).
    if (result.Ok()) progress(-1);

    // A resumed request must come back as partial content; a full body would be appended after
    // the bytes already there.
    const long status = result.httpStatus;
    if (result.Ok() && (status == 200 || status == 206) && (from == 0 || status == 206)) {
      // The package is exactly the bytes this download wrote: nothing past them is checked or
      // extracted.
      const int64_t bytes = state_.Counters().downloadedBytes;
      if (const int error = package.Truncate(static_cast<uint64_t>(bytes)); error != 0) {
        localError_ = error;
        LogLocalFailure("package cannot be cut to its length", localError_);
        return Result::LocalFailure;
      }
      return Result::Done;
    }
    if (result.TooLarge()) {
      update_log::Error(update_log::Format(update_log::kShort, "package refused: larger than %lld bytes",
                                           static_cast<long long>(state_.packageSizeLimit)),
                        kFunc, 662);
      return Result::TooLarge;
    }
    if (localError_ != 0) {
      LogLocalFailure("package cannot be written", localError_);
      return Result::LocalFailure;
    }

    // The server cannot continue at the offset (the package was replaced under the same version,
    // or the server ignores ranges): the saved part is worthless, and asking again for the same
    // range would fail on every later run too. The package starts again from byte 0, once.
    // (A 5xx answer to a range request also comes back as a range error: that one is transient.)
    const bool resumeRefused =
        from > 0 && (status == 416 || (status == 200 && (result.code == CURLE_RANGE_ERROR || result.Ok())));
    if (resumeRefused && !restarted && !state_.CancelRequested()) {
      restarted = true;
      update_log::Info(update_log::Format(update_log::kShort,
                                          "download failed (%s); the server cannot continue at byte %lld, "
                                          "downloading the package from the start",
                                          Reason(result).c_str(), static_cast<long long>(from)),
                       kFunc, 692);
      if (!StartOver(package)) return Result::FileError;
      attempt = 0;  // the new start has its own further attempts
      continue;
    }

    if (attempt == attempts || !IsTransient(result) || state_.CancelRequested()) {
      update_log::Info(update_log::Format(update_log::kShort, "download failed (%s)", Reason(result).c_str()), kFunc,
                       692);
      return Result::TransferFailed;
    }
    const std::chrono::milliseconds wait = waits[static_cast<size_t>(attempt - 1)];
    update_log::Info(
        update_log::Format(
            update_log::kShort, "download failed (%s), attempt %d of %d; trying again from byte %lld in %lld ms",
            Reason(result).c_str(), attempt, attempts, static_cast<long long>(state_.Counters().downloadedBytes),
            static_cast<long long>(wait.count())),
        kFunc, 690);
    if (state_.WaitForCancel(wait)) return Result::TransferFailed;
  }
}

bool PackageDownload::StartOver(os::File& package) {
  bool emptied = false;
  resume_detail::WithSavesHeld(state_, [&] {
    if (package.Truncate(0) != 0) return;
    emptied = true;
    state_.UpdateCounters([](DownloadCounters& c) { c.resumeOffset = c.downloadedBytes = c.totalSize = 0; });
  });
  if (!emptied) {
    update_log::Error("install_dir is NULL!", kFunc, 652);
    return false;
  }
  SaveResumeState(state_, layout_);
  digest_.Reset();
  if (observer_) observer_(0);
  return true;
}

void PackageDownload::LogLocalFailure(const char* what, int error) {
  update_log::Error(update_log::Format(update_log::kShort, "%s: %s", what, std::strerror(error)), kFunc, 663);
}
