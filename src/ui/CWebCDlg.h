// The content window's logic: the progress controls' state, the login page address and the page's
// calls. The game's launch (Ready/LoggedIn, start, watch) is its GameLaunch, which reports to the
// launcher window through ILaunchWindow. The view (GTK) is attached on the UI thread. The progress
// controls are written from the update worker into PendingControls and reach the view when the UI
// thread applies them.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "core/LauncherContext.h"
#include "ui/GameLaunch.h"
#include "ui/IContentView.h"
#include "ui/ILaunchWindow.h"
#include "ui/PendingControls.h"

class CWebCDlg {
 public:
  // window outlives this object; the launch reports to it.
  CWebCDlg(ILaunchWindow& window, LauncherContext& context);
  CWebCDlg(const CWebCDlg&) = delete;
  CWebCDlg& operator=(const CWebCDlg&) = delete;

  // UI thread. Attaching runs the initialisation of the controls (range, hidden labels, ...) and
  // drops progress not yet applied to an earlier view.
  void AttachView(IContentView* view);
  IContentView* View() const { return view_; }

  // Window operation; UI thread (CWebDlg hops there first).
  void InitWebBrower();
  // The progress operations; any thread, one at a time in the order the window shows them (the
  // update worker). They never touch the view: the newest values wait in the pending controls.
  // True when the UI thread must be asked to run ApplyProgress.
  bool SetProgress(const std::string& message, const std::string& progressText, int percent, int downloading);
  bool ShowProgressView();
  bool ShowMessageView();
  // UI thread: the progress written so far reaches the view.
  void ApplyProgress();

  // The launch's gate (see GameLaunch): Ready from any thread, the login from the UI thread; the
  // one that completes the pair starts the game on its thread.
  void SetReady() { launch_.SetReady(); }
  void OnLoginResult(const std::string& parameters) { launch_.OnLoginResult(parameters); }
  bool IsReady() const { return launch_.IsReady(); }
  bool IsLoggedIn() const { return launch_.IsLoggedIn(); }
  std::string LoginParameters() const { return launch_.LoginParameters(); }

  // Script bridge target; UI thread.
  std::string JavascriptToCPLUSPLUS(const std::string& method, const std::string& parameters);

  // The position last given to the progress bar (read by SetProgress; written from any thread).
  int ProgressPos() const { return progressPos_.load(); }

 private:
  // Shows the progress view (true) or the message view, under the operations' lock.
  bool ShowView(bool progress);
  LauncherContext& ctx_;
  IContentView* view_ = nullptr;

  // The progress operations' state: whether a view is attached and which phase labels were
  // written, under progressLock_ (the worker writes, the UI thread attaches).
  std::mutex progressLock_;
  bool hasView_ = false;
  bool downloadLabelSet_ = false;
  bool unzipLabelSet_ = false;
  std::atomic<int> progressPos_{0};
  PendingControls pending_;

  GameLaunch launch_;
};
