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
#include <cstdint>
#include <mutex>
#include <string>

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

  // The launcher is closing: a running transfer aborts at its next progress tick. Any thread.
  void RequestCancel() { cancel_.store(true); }
  bool CancelRequested() const { return cancel_.load(); }

  // How often a running transfer records its resume state, so that a killed launcher resumes.
  std::chrono::milliseconds checkpointInterval{1000};

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
};
