// The game update pipeline: the update worker (configuration, version decision, download,
// extraction, registration) and the registry and shortcut operations it shares with start-up and
// uninstall. It holds no data of its own: the state lives in the launcher context it is given.
//
// Threads: InitRemoteConfig and everything it calls run on the update worker; RemoveRegisties
// and QueryRegistryKey on the UI thread; SaveResumeState (ResumeState.h) on any thread.
#pragma once

#include <string>

#include "core/ClientVersion.h"
#include "core/LauncherContext.h"
#include "update/IWindowOperations.h"
#include "update/ResumeState.h"

class CGameRemoteConfig {
 public:
  explicit CGameRemoteConfig(LauncherContext& context) : ctx_(context) {}

  // The worker body (update worker thread): returns 0 on every path.
  unsigned InitRemoteConfig(IWindowOperations* window);

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

  CGameRemoteConfig(const CGameRemoteConfig&) = delete;
  CGameRemoteConfig& operator=(const CGameRemoteConfig&) = delete;

 private:
  // The "source" launch parameter.
  std::string SourceParameter();
  // The file parameter (the text after the last "_" of the launcher's name), empty when none.
  std::string FileParameter();

  LauncherContext& ctx_;
};
