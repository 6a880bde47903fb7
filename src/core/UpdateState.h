// The update pipeline's state for one run. It outlives the update worker: the shutdown path
// saves the resume state from it and the game launch reads the first-install flag.
//
// Threads: the worker writes everything; the UI thread reads the download counters and the
// download version while a transfer may still run (resume-state saves), so those go through the
// counter lock. The game name and the first-install flag are written before anyone else reads
// them, but are locked too so that a late reader never sees a string being replaced.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "core/ClientVersion.h"

struct DownloadCounters {
  int64_t resumeOffset = 0;     // bytes already in the package when the current transfer started
  int64_t downloadedBytes = 0;  // bytes of the package really written to disk
  int64_t totalSize = 0;        // size of the whole package, as far as it is known
  ClientVersion downloadVersion;
  // Set once the worker has read the previous run's state: until then a save would overwrite
  // that state with zeros.
  bool loaded = false;
};

class UpdateState {
 public:
  UpdateState() = default;
  UpdateState(const UpdateState&) = delete;
  UpdateState& operator=(const UpdateState&) = delete;

  std::string GameName() const;
  void SetGameName(const std::string& name);
  int FirstInstall() const;
  void SetFirstInstall(int value);

  ClientVersion localClientVersion;   // worker only
  ClientVersion remoteClientVersion;  // worker only
  ClientVersion miniUpdateVersion;    // worker only

  // The counters and the download version, read and written under one lock.
  DownloadCounters Counters() const;
  void SetCounters(const DownloadCounters& counters);
  template <typename F>
  void UpdateCounters(F&& change) {
    std::lock_guard<std::mutex> lock(counterMutex_);
    change(counters_);
  }

  // The launcher is closing: a running transfer aborts at its next progress tick, a wait between
  // download attempts ends, an extraction stops at its next block. Any thread.
  void RequestCancel();
  bool CancelRequested() const { return cancel_.load(); }
  // Waits up to `wait`; true as soon as the launcher is closing (worker).
  bool WaitForCancel(std::chrono::milliseconds wait);

  // The extraction in progress. The process should not end while the worker writes the client:
  // BeginExtraction refuses once the launcher is closing (worker), and the closing launcher waits
  // up to `limit` for a running one to stop at its next block (UI thread, after RequestCancel).
  // False when one still runs then (a disk that hangs): the exit goes on without it, and the
  // version record, written only after a whole extraction, still names the old client.
  bool BeginExtraction();
  void EndExtraction();
  bool WaitWhileExtracting(std::chrono::milliseconds limit);

  // How often a running transfer records its resume state, so that a killed launcher resumes.
  std::chrono::milliseconds checkpointInterval{1000};

  // The waits before the further attempts of a package transfer that failed on the way (a cut
  // connection, a stall, a 5xx answer); one further attempt per entry.
  std::vector<std::chrono::milliseconds> retryWaits{std::chrono::milliseconds(1000), std::chrono::milliseconds(2000),
                                                    std::chrono::milliseconds(4000)};
  // The package transfer's stall limit; 0: the transfer policy's.
  std::chrono::milliseconds packageStallLimit{0};
  // The largest package taken: one announced or grown larger is refused before it fills the disk.
  int64_t packageSizeLimit = int64_t{16} << 30;

  // Serialises whole resume-state saves (snapshot and write), so a later save never lands before
  // an earlier one.
  std::mutex saveMutex;

 private:
  mutable std::mutex mutex_;
  std::string gameName_;
  int firstInstall_ = 0;

  mutable std::mutex counterMutex_;
  DownloadCounters counters_;

  std::atomic<bool> cancel_{false};
  std::mutex closingMutex_;  // with closing_: the cancel flag's waits and the extraction count
  std::condition_variable closing_;
  int extractions_ = 0;
};
