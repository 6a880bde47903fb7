// The content window's logic: the progress controls' state, the login page address and the page's
// calls. The game's launch (Ready/LoggedIn, start, watch) is its GameLaunch, which reports to the
// launcher window through ILaunchWindow. The view (GTK) is attached on the UI thread.
#pragma once

#include <atomic>
#include <string>

#include "core/LauncherContext.h"
#include "ui/GameLaunch.h"
#include "ui/IContentView.h"
#include "ui/ILaunchWindow.h"

class CWebCDlg {
 public:
  // window outlives this object; the launch reports to it.
  CWebCDlg(ILaunchWindow& window, LauncherContext& context);
  CWebCDlg(const CWebCDlg&) = delete;
  CWebCDlg& operator=(const CWebCDlg&) = delete;

  // UI thread. Attaching runs the initialisation of the controls (range, hidden labels, ...).
  void AttachView(IContentView* view);
  IContentView* View() const { return view_; }

  // Window operations; UI thread (CWebDlg hops there first).
  void InitWebBrower();
  void SetProgress(const std::string& message, const std::string& progressText, int percent, int downloading);
  void ShowProgressView();
  void ShowMessageView();

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
  LauncherContext& ctx_;
  IContentView* view_ = nullptr;

  bool downloadLabelSet_ = false;
  bool unzipLabelSet_ = false;
  std::atomic<int> progressPos_{0};

  GameLaunch launch_;
};
