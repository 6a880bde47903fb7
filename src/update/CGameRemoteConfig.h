// The game update pipeline: the update worker (configuration, version decision, download,
// extraction, registration) and the registry and shortcut operations it shares with start-up and
// uninstall. One process-wide instance without data of its own; the state lives in UpdateState.
//
// Threads: InitRemoteConfig and everything it calls run on the update worker; RemoveRegisties
// and QueryRegistryKey on the UI thread; SaveResumeState (ResumeState.h) on any thread.
#pragma once

#include <chrono>
#include <string>

#include "update/ClientVersion.h"
#include "update/IWindowOperations.h"
#include "update/RemoteConfigTable.h"
#include "update/ResumeState.h"
#include "update/UpdateState.h"

class CGameRemoteConfig {
 public:
  static CGameRemoteConfig& Instance();

  // Start-up hands over the installation and client directories before the worker starts.
  static void SetDirectories(const std::string& installDir, const std::string& dataDir);

  // The worker body (update worker thread): returns 0 on every path.
  static unsigned InitRemoteConfig(IWindowOperations* window);
  // Starts InitRemoteConfig on a detached thread (UI thread, once per run).
  static void StartWorker(IWindowOperations* window);
  // Waits at most timeoutMs for a worker started by StartWorker to end; true when none runs.
  // The window the worker calls must outlive it (UI thread, after the window has closed).
  static bool WaitForWorker(int timeoutMs);
  // The launcher is closing: a running transfer aborts at its next progress tick. Any thread.
  static void RequestCancel();
  static bool CancelRequested();

  // Fetch and parse of the remote configuration (worker). See FetchResult.
  enum class FetchResult { Ok, NoHandle, TransferFailed };
  FetchResult FetchRemoteConfig(int* curlResult = nullptr, long* httpStatus = nullptr);

  // Fills version from dotted text, logging the text.
  void CStringToLocalClientVersion(ClientVersion& version, std::string text);

  // Downloads (or resumes, or reuses) the package and extracts it. 1 on success, 0 on failure.
  int OnDownLoad(IWindowOperations* window);

  // Extraction loop into DataDir; 1 when every entry was written.
  int OnUnzipFile(const std::string& packagePath, IWindowOperations* window);
  // Extraction, then package removal, registration, launcher copy, version record, completion.
  int UnzipFile(const std::string& packagePath, IWindowOperations* window);

  // Repairs the game's stored window size when it is out of range.
  void AdjustWindowSize();
  // Uninstall entry (after AdjustWindowSize).
  void SetRegisties();
  void RemoveRegisties();
  // The "InstallPath" of the uninstall entry; empty on failure.
  std::string QueryRegistryKey();

  void CreateShortcuts();
  void CreateShortcut(const std::string& name, const std::string& folder, const std::string& target,
                      const std::string& arguments);
  void CreateLink(const std::string& target, const std::string& linkPath, const std::string& arguments);

  // Process-wide state the launcher reads.
  static std::string GameName() { return UpdateState::Instance().GameName(); }
  static int FirstInstall() { return UpdateState::Instance().FirstInstall(); }

  // How often a running transfer records its resume state (so that a killed launcher resumes).
  static void SetCheckpointInterval(std::chrono::milliseconds interval);

  // Clears the cancel request (tests run many worker passes in one process).
  static void ResetCancel();

  CGameRemoteConfig(const CGameRemoteConfig&) = delete;
  CGameRemoteConfig& operator=(const CGameRemoteConfig&) = delete;

 private:
  CGameRemoteConfig() = default;
  // The "source" launch parameter.
  static std::string SourceParameter();
  // The file parameter (the text after the last "_" of the launcher's name), empty when none.
  // Any thread.
  static std::string FileParameter();
};
