// The main window's logic. The window operations arrive on the update worker's thread. Progress
// is posted: the worker leaves the newest values with the content window and goes on, and the UI
// thread shows whatever is newest when it gets to it. The other operations run on the UI thread
// while the worker waits, after the progress posted before them; once the window is gone they
// return at once.
#include "ui/CWebDlg.h"

#include "log/LauncherLog.h"
#include "os/MessageBox.h"
#include "os/Process.h"
#include "ui/UiThread.h"
#include "update/ResumeState.h"

CWebDlg::CWebDlg(LauncherContext& context) : ctx_(context) {}
CWebDlg::~CWebDlg() = default;

void CWebDlg::CreateContent() {
  if (!content_) content_ = std::make_unique<CWebCDlg>(static_cast<ILaunchWindow&>(*this), ctx_);
}

void CWebDlg::AttachView(IMainWindowView* view) { view_ = view; }

void CWebDlg::StartUpdateWorker() { worker_.Start(ctx_, this); }

void CWebDlg::InitWebBrower() {
  LogInfo("InitWebBrower", "CWebDlg::InitWebBrower", "CWebDlg", 73);
  ui::InvokeOnUiThread([this] {
    ApplyProgress();
    if (content_) content_->InitWebBrower();
  });
}

void CWebDlg::SetProgress(const std::string& message, const std::string& progressText, int percent, int downloading) {
  if (content_) ProgressWritten(content_->SetProgress(message, progressText, percent, downloading));
}

void CWebDlg::ShowProgressView() {
  if (content_) ProgressWritten(content_->ShowProgressView());
}

// The end of a phase ("更新已完成", a failure): the worker waits until it shows, so nothing it
// posted before can show after it.
void CWebDlg::ShowMessageView() {
  if (!content_) return;
  content_->ShowMessageView();
  ui::InvokeOnUiThread([this] { ApplyProgress(); });
}

// Any thread, after a progress operation. On the UI thread the view follows at once; elsewhere one
// apply is queued, and the writes that follow before it runs ride along with it.
void CWebDlg::ProgressWritten(bool applyAsked) {
  if (ui::IsUiThread()) {
    ApplyProgress();
  } else if (applyAsked) {
    ui::PostToUiThread([this] { ApplyProgress(); });
  }
}

// UI thread.
void CWebDlg::ApplyProgress() {
  if (content_) content_->ApplyProgress();
}

// Worker thread. The content window sets Ready and may start the game right here (when the login
// came first); the page's view of Ready is refreshed afterwards.
void CWebDlg::SetReady() {
  LogInfo("SetReady", "CWebDlg::SetReady", "CWebDlg", 84);
  if (!content_) return;
  content_->SetReady();
  ui::InvokeOnUiThread([this] {
    ApplyProgress();
    if (content_ && content_->View()) content_->View()->OnReadyChanged(content_->IsReady());
  });
}

std::string CWebDlg::JavascriptToCPLUSPLUS(const std::string& method, const std::string& parameters) {
  if (!content_) return {};
  return content_->JavascriptToCPLUSPLUS(method, parameters);
}

// UI thread (the close button).
void CWebDlg::Close() {
  LogInfo("Laucher Stop", "CWebDlg::Close", "CWebDlg", 54);
  SaveResumeState(ctx_.updateState, ctx_.layout);
  if (view_) view_->EndModal(1);
  ctx_.launchParameters.SendShowWindowMessage(view_ ? view_->NativeId() : 0);
}

// Any thread (the game launch ends the run from whichever thread waited for the game).
void CWebDlg::Cancel() {
  LogInfo("Laucher Stop", "CWebDlg::Cancel", "CWebDlg", 62);
  SaveResumeState(ctx_.updateState, ctx_.layout);
  ui::InvokeOnUiThread([this] {
    if (view_) view_->EndModal(2);
  });
}

// UI thread: the window manager's close ends the run like the quit message.
void CWebDlg::OnSystemClose() {
  if (view_) view_->EndModal(2);
}

// UI thread, after the run ended. The transfer is told to stop first so the saved offset is final.
void CWebDlg::OnDestroy() {
  ctx_.updateState.RequestCancel();
  SaveResumeState(ctx_.updateState, ctx_.layout);
  LogInfo("wnd destory", "CWebApp::OnWndDestroy", "CWebApp", 63);
}

// The launch's label: later, on the UI thread, whichever thread asks.
void CWebDlg::ShowLaunchStatus(const std::string& text) {
  ui::PostToUiThread([this, text] {
    ApplyProgress();  // an older progress message must not cover this one later
    if (content_ && content_->View()) content_->View()->SetControlText(kIdMessageText, text);
  });
}

// UI thread (the page's login call).
void CWebDlg::ShowLaunchWarning(const std::string& text) {
  os::ShowMessageBox(text, os::ApplicationName(), os::MsgIcon::Warning, os::MsgButtons::Ok);
}

void CWebDlg::PostLaunchWarning(const std::string& text) {
  ui::PostToUiThread(
      [text] { os::ShowMessageBox(text, os::ApplicationName(), os::MsgIcon::Warning, os::MsgButtons::Ok); });
}

// The thread that started the game; returns once the window is hidden.
void CWebDlg::HideForGame() {
  ui::InvokeOnUiThread([this] {
    if (view_) view_->Hide();
  });
}

// Game watch thread.
unsigned long CWebDlg::NativeWindowId() {
  unsigned long nativeId = 0;
  ui::InvokeOnUiThread([this, &nativeId] {
    if (view_) nativeId = view_->NativeId();
  });
  return nativeId;
}
