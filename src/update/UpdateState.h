// Process-wide state of the update pipeline. It outlives the update worker: the shutdown path
// saves the resume state from it and the game launch reads the first-install flag.
//
// Threads: the worker writes everything; the UI thread reads the download counters and the
// download version while a transfer may still run (SaveResumeState), so those go through the
// counter lock. The other fields are written before anyone else reads them, but are locked too
// so that a late reader never sees a string being replaced.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "update/ClientVersion.h"

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
  static UpdateState& Instance();

  // Installation and client directories (start-up sets them before the worker starts).
  void SetDirectories(const std::string& installDir, const std::string& dataDir);
  std::string InstallDir() const;
  std::string DataDir() const;

  // Where the configuration is fetched from; defaults to the compiled-in address.
  void SetRemoteConfigUrl(const std::string& url);
  std::string RemoteConfigUrl() const;

  std::string PackagePath() const;        // <InstallDir>/qvx.zip
  std::string ResumeStatePath() const;    // <InstallDir>/tempdownload.dat
  std::string VersionRecordPath() const;  // <DataDir>/game_client_version.txt
  std::string LauncherCopyPath() const;   // <InstallDir>/<GameName> (+ executable suffix)

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

  // Back to the start-of-process values (tests run many worker passes in one process).
  void Reset();

 private:
  UpdateState();

  mutable std::mutex mutex_;
  std::string installDir_;
  std::string dataDir_;
  std::string remoteConfigUrl_;
  std::string gameName_;
  int firstInstall_ = 0;

  mutable std::mutex counterMutex_;
  DownloadCounters counters_;
};

// The platform's executable suffix ("" here, ".exe" on Windows).
const char* ExecutableSuffix();
