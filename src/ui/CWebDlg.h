// The main window's logic. It owns the content window, implements the window operations the
// update worker calls from its thread (progress is posted without waiting; the rest hops to the UI
// thread and waits) and what the game's launch asks of the window (once the window is gone they
// return at once), and the close/cancel/destroy paths.
#pragma once

#include <memory>
#include <string>

#include "core/LauncherContext.h"
#include "ui/CWebCDlg.h"
#include "ui/IContentView.h"
#include "ui/ILaunchWindow.h"
#include "update/IWindowOperations.h"
#include "update/UpdateWorker.h"

class CWebDlg : public IWindowOperations, private ILaunchWindow {
 public:
  explicit CWebDlg(LauncherContext& context);
  ~CWebDlg() override;
  CWebDlg(const CWebDlg&) = delete;
  CWebDlg& operator=(const CWebDlg&) = delete;

  // UI thread: creation of the content window, and the view of the main window.
  void CreateContent();
  CWebCDlg* Content() const { return content_.get(); }
  void AttachView(IMainWindowView* view);
  IMainWindowView* View() const { return view_; }

  // UI thread, once the views exist: starts the update worker.
  void StartUpdateWorker();
  // UI thread, after the window has closed: waits at most timeoutMs for the update worker; true
  // when none runs. The worker calls this window, which must outlive it.
  bool WaitForUpdateWorker(int timeoutMs) { return worker_.WaitFor(timeoutMs); }
  LauncherContext& Context() const { return ctx_; }

  // IWindowOperations: called on the update worker's thread. SetProgress and ShowProgressView
  // return without waiting; the UI thread shows their newest values, always before what a later
  // waiting operation shows.
  void InitWebBrower() override;
  void SetProgress(const std::string& message, const std::string& progressText, int percent, int downloading) override;
  void ShowProgressView() override;
  void ShowMessageView() override;
  void SetReady() override;

  // Script bridge entry; empty when there is no content window. UI thread.
  std::string JavascriptToCPLUSPLUS(const std::string& method, const std::string& parameters);

  // Close button: "Laucher Stop", save the resume state, end the modal run (OK), signal the platform.
  void Close();
  // After the game ended: "Laucher Stop", save the resume state, end the modal run (cancel).
  void Cancel();
  // The window manager's close (and a termination signal): ends the run.
  void OnSystemClose();
  // The window is being destroyed: stop the transfer, save the resume state, log "wnd destory".
  // UI thread.
  void OnDestroy();

 private:
  // ILaunchWindow: called on whichever thread the launch runs.
  void ShowLaunchStatus(const std::string& text) override;
  void ShowLaunchWarning(const std::string& text) override;
  void PostLaunchWarning(const std::string& text) override;
  void HideForGame() override;
  unsigned long NativeWindowId() override;
  void CloseAfterGame() override { Cancel(); }

  void ProgressWritten(bool applyAsked);
  void ApplyProgress();

  LauncherContext& ctx_;
  UpdateWorker worker_;
  std::unique_ptr<CWebCDlg> content_;
  IMainWindowView* view_ = nullptr;
};
