// The content window's logic: the progress controls' state, the login page address, the
// Ready/LoggedIn pair and the game launch. The view (GTK) is attached on the UI thread.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <sys/types.h>

#include "ui/IContentView.h"

class CWebDlg;

class CWebCDlg {
 public:
  explicit CWebCDlg(CWebDlg* owner);
  CWebCDlg(const CWebCDlg&) = delete;
  CWebCDlg& operator=(const CWebCDlg&) = delete;

  // UI thread. Attaching runs the initialisation of the controls (range, hidden labels, ...).
  void AttachView(IContentView* view);
  IContentView* View() const { return view_; }
  CWebDlg* Owner() const { return owner_; }

  // Window operations; UI thread (CWebDlg hops there first).
  void InitWebBrower();
  void SetProgress(const std::string& message, const std::string& progressText, int percent, int downloading);
  void ShowProgressView();
  void ShowMessageView();

  // Any thread: sets Ready and, when LoggedIn was already set, starts the game on this thread.
  void SetReady();
  bool IsReady() const;
  bool IsLoggedIn() const;
  std::string LoginParameters() const;

  // Script bridge targets; UI thread.
  std::string JavascriptToCPLUSPLUS(const std::string& method, const std::string& parameters);
  void OnLoginResult(const std::string& parameters);

  // Starts the game and waits for it (blocks the calling thread), then closes the launcher.
  void LaunchGame();

  // Tests: replaces what starting the game does (LaunchGame when empty), so that the ready/login
  // race can count the starts. Set before the race begins.
  void SetLaunchActionForTesting(std::function<void()> action) { launchAction_ = std::move(action); }

  // The position last given to the progress bar (read by SetProgress; written from any thread).
  int ProgressPos() const { return progressPos_.load(); }

 private:
  CWebDlg* owner_;
  IContentView* view_ = nullptr;

  bool downloadLabelSet_ = false;
  bool unzipLabelSet_ = false;
  std::atomic<int> progressPos_{0};

  // Ready and LoggedIn: setting one and testing the other is one step under flagLock_.
  mutable std::mutex flagLock_;
  bool ready_ = false;
  bool loggedIn_ = false;
  std::string loginParameters_;

  std::function<void()> launchAction_;

  // The started game.
  pid_t gamePid_ = 0;
};
