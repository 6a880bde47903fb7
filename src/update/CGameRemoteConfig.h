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
#include <vector>

#include "core/ClientVersion.h"
#include "core/LauncherContext.h"
#include "update/IWindowOperations.h"
#include "update/PackageExtractor.h"
#include "update/RemoteConfigFetch.h"
#include "update/ResumeState.h"
#include "update/StagedEntry.h"

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

  // Extraction, the files made durable, version record, package removal, registration, launcher
  // copy, links and completion (worker). 1 on success, 0 when the extraction or the record failed
  // or the launcher is closing (the package then stays for the next run).
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
  // How an installation from a package ended.
  enum class UnzipOutcome {
    Installed,
    Failed,        // the archive is at fault: "解压失败" is shown
    FailedOnDisk,  // the disk refused; its message is shown, the package stays to be extracted again
    Stopped,       // the launcher is closing; the package stays
  };
  // With staged, the files the stager unpacked during the download are moved into the client once
  // the archive's directory agrees with them; otherwise (or when it disagrees) the package is
  // extracted.
  UnzipOutcome InstallPackage(const std::string& packagePath, IWindowOperations* window,
                              const std::vector<StagedEntry>* staged = nullptr);
  // After the files are durable: the version record, then the package's removal, registration
  // and completion; ordered so that an exit between two steps costs at most an extraction.
  UnzipOutcome RecordInstallation(const std::string& packagePath, IWindowOperations* window);
  // Downloads (or resumes, or reuses) the package, checks it and extracts it.
  DownloadOutcome OnDownLoad(IWindowOperations* window);
  // The failed download's message, log line and report.
  DownloadOutcome DownloadFailed(IWindowOperations* window);
  // Extraction into DataDir with progress on the window and the telemetry around it; stops at
  // the next block once the launcher is closing.
  // localError receives the errno of a LocalFailure.
  PackageExtractor::Result OnUnzipFile(const std::string& packagePath, IWindowOperations* window,
                                       int* localError = nullptr, const std::vector<StagedEntry>* staged = nullptr);

  // The "source" launch parameter.
  std::string SourceParameter();
  // The file parameter (the text after the last "_" of the launcher's name), empty when none.
  std::string FileParameter();

  LauncherContext& ctx_;
};
