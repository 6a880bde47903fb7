// The resumable package download: how a download starts (from byte 0, from the saved offset, or
// not at all while a complete package may already be on disk), the package sink, the progress
// shown while it runs, periodic resume-state checkpoints, the further attempts after a transient
// failure, the package's digest taken while its bytes are written, and the stop when the
// launcher closes. The transfer itself runs through the shared transfer routine. Runs on the
// update worker, the transfer's callbacks included; its log lines belong to
// CGameRemoteConfig::OnDownLoad.
#pragma once

#include <functional>
#include <string>
#include <utility>

#include "core/InstallLayout.h"
#include "core/UpdateState.h"
#include "update/IWindowOperations.h"
#include "update/Sha256Digest.h"

class PackageDownload {
 public:
  enum class Start {
    Restart,        // discard what is there and download from byte 0
    Resume,         // keep the partial package and ask for the rest
    TryOldPackage,  // a complete package of the offered version may be there: extract it first
  };
  enum class Result {
    Done,
    FileError,       // the package file cannot be opened or emptied
    TransferFailed,  // the network or the server failed it; the partial package stays
    TooLarge,        // the package is over the size limit: refused
    LocalFailure,    // the disk: no space for it (found before the first byte), or a write failed
  };

  PackageDownload(UpdateState& state, const InstallLayout& layout) : state_(state), layout_(layout) {}
  PackageDownload(const PackageDownload&) = delete;
  PackageDownload& operator=(const PackageDownload&) = delete;

  // False (logged) when no transfer can run at all (libcurl could not be initialised).
  bool Init();

  // How to start, from the counters and versions the run has loaded (logged). An old package is
  // only tried when it is of the offered version.
  Start Decide();

  // Downloads url into the package file, from byte 0 when fromScratch (an old package is removed
  // first), otherwise from the offset Decide saw. Progress goes to window. A transient failure (a
  // cut or reset connection, a stall, a 5xx answer) is tried again from the bytes on disk after
  // each of the state's retry waits; the launcher closing ends those waits. A resumed request that
  // the server cannot continue (416, or the whole package) starts the package again from byte 0,
  // once. A package over the state's size limit, or more than the disk has room for, is refused
  // before its first byte is written. A failed or stopped
  // transfer keeps the partial file and counters that match it; an answer that does not continue
  // at the offset fails before a byte is appended. With takeDigest the package's SHA-256 is taken
  // on the way (Digest()). Call after a successful Init.
  Result Transfer(const std::string& url, bool fromScratch, IWindowOperations* window, bool takeDigest);

  // Told (on the writer thread or the worker) how many bytes of the package the file holds
  // whenever that changes: once the part on disk is settled, as written bytes reach the file, and
  // 0 when the package starts again. Set before Transfer.
  void SetWrittenObserver(std::function<void(int64_t)> observer) { observer_ = std::move(observer); }

  // The digest of the package the last Done transfer completed.
  const Sha256Digest& Digest() const { return digest_; }
  // The errno of a LocalFailure.
  int LocalError() const { return localError_; }

 private:
  // The offset to resume from: the saved one, set right by what the file really holds.
  int64_t SettleResumeOffset(bool fromScratch);
  // Empties the open package and the counters, for a download from byte 0; false (logged)
  // when the file cannot be emptied.
  bool StartOver(os::File& package);
  void LogLocalFailure(const char* what, int error);

  UpdateState& state_;
  const InstallLayout& layout_;
  DownloadCounters start_;  // the counters Decide saw
  std::function<void(int64_t)> observer_;
  Sha256Digest digest_;
  int localError_ = 0;
};
