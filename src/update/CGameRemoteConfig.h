// The game update pipeline's steps in their order: the update worker (configuration, version
// decision, download, extraction, registration) and the registry and link operations that
// start-up and uninstall share with it. It holds no data of its own: the state lives in the
// launcher context it is given, and each step's work in its own class (RemoteConfigFetch,
// PackageDownload, PackageExtractor, Registration, Shortcuts).
//
// Threads: InitRemoteConfig and everything it calls run on the update worker; RemoveRegisties
// and QueryRegistryKey on the UI thread; SaveResumeState (ResumeState.h) on any thread.
#pragma once

#include <string>

#include "core/ClientVersion.h"
#include "core/LauncherContext.h"
#include "update/IWindowOperations.h"
#include "update/PackageExtractor.h"
#include "update/RemoteConfigFetch.h"
#include "update/ResumeState.h"

class CGameRemoteConfig {
 public:
  explicit CGameRemoteConfig(LauncherContext& context) : ctx_(context) {}
  CGameRemoteConfig(const CGameRemoteConfig&) = delete;
  CGameRemoteConfig& operator=(const CGameRemoteConfig&) = delete;

  // The worker body (update worker thread): returns 0 on every path.
  unsigned InitRemoteConfig(IWindowOperations* window);

  // Fetch and parse of the remote configuration into the context's table (worker).
  using FetchResult = RemoteConfigFetch::Result;
  FetchResult FetchRemoteConfig(int* curlResult = nullptr, long* httpStatus = nullptr);

  // Fills version from dotted text, logging the text.
  void CStringToLocalClientVersion(ClientVersion& version, std::string text);

  // Extraction, then package removal, registration, launcher copy, links, version record and
  // completion (worker). 1 on success, 0 when the extraction failed or was stopped because the
  // launcher is closing (the package then stays).
  int UnzipFile(const std::string& packagePath, IWindowOperations* window);

  // Repairs the game's stored window size when it is out of range (worker).
  void AdjustWindowSize();
  // The window-size repair, then the uninstall entry (worker).
  void SetRegisties();
  // Uninstall (UI thread).
  void RemoveRegisties();
  // The "InstallPath" of the uninstall entry; empty on failure (start-up, UI thread).
  std::string QueryRegistryKey();

  // Links to the launcher copy (worker).
  void CreateShortcuts();

 private:
  enum class DownloadOutcome {
    Installed,
    Failed,        // the caller shows the network failure
    FailedOnDisk,  // the disk's message is shown already and stays
    Stopped,       // the launcher is closing: nothing failed, nothing to show
  };
  // Downloads (or resumes, or reuses) the package, checks it and extracts it.
  DownloadOutcome OnDownLoad(IWindowOperations* window);
  // The failed download's message, log line and report.
  DownloadOutcome DownloadFailed(IWindowOperations* window);
  // Extraction into DataDir with progress on the window and the telemetry around it; stops at
  // the next block once the launcher is closing.
  PackageExtractor::Result OnUnzipFile(const std::string& packagePath, IWindowOperations* window);

  // The "source" launch parameter.
  std::string SourceParameter();
  // The file parameter (the text after the last "_" of the launcher's name), empty when none.
  std::string FileParameter();

  LauncherContext& ctx_;
};
