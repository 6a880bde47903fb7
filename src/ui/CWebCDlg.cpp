// The content window's progress display, page address and the page's calls. Everything here runs
// on the UI thread (CWebDlg hops there before calling in), except the progress operations, which
// the update worker runs against the pending controls.
#include "ui/CWebCDlg.h"

#include "log/LauncherLog.h"
#include "os/CodePage.h"
#include "os/Process.h"

CWebCDlg::CWebCDlg(ILaunchWindow& window, LauncherContext& context) : ctx_(context), launch_(context, window) {}

// Initialisation of the controls once the view exists: the bar at 0 and every progress control
// hidden until the update worker shows a view.
void CWebCDlg::AttachView(IContentView* view) {
  {
    std::lock_guard<std::mutex> lock(progressLock_);
    view_ = view;
    hasView_ = view != nullptr;
    downloadLabelSet_ = false;
    unzipLabelSet_ = false;
    progressPos_.store(0);
    pending_.Clear();
  }
  if (!view_) return;
  view_->SetControlText(kIdStatusLabel, "正在更新......");
  view_->SetControlText(kIdProgressText, "0%");
  view_->SetControlText(kIdMessageText, "正在更新.....");
  view_->SetProgressPos(0);
  view_->SetControlVisible(kIdProgressBar, false);
  view_->SetControlVisible(kIdMessageText, false);
  view_->SetControlVisible(kIdStatusLabel, false);
  view_->SetControlVisible(kIdProgressText, false);
}

void CWebCDlg::InitWebBrower() {
  const std::string query = ctx_.launchParameters.GetOrvaneUriFromCommandLine();
  const std::string entry = ctx_.remoteConfig.GetEntryUrl();
  const char* separator = (!entry.empty() && entry.find('?') != std::string::npos) ? "&" : "?";
  std::string url = entry;
  if (!query.empty()) url = entry + separator + query;
  LogInfo(url, "CWebCDlg::InitWebBrower", "CWebCDlg", 161);
  if (view_) view_->Navigate(url);
}

bool CWebCDlg::SetProgress(const std::string& message, const std::string& progressText, int percent, int downloading) {
  std::lock_guard<std::mutex> lock(progressLock_);
  const int oldPos = progressPos_.load();
  progressPos_.store(percent);
  if (!hasView_) return false;
  pending_.SetPos(percent);
  pending_.SetText(kIdMessageText, message);
  // The phase label is written once per phase and never switched back.
  if (downloading != 0 && !downloadLabelSet_) {
    pending_.SetVisible(kIdStatusLabel, false);
    pending_.SetText(kIdStatusLabel, "正在下载：");
    downloadLabelSet_ = true;
  }
  if (downloading == 0 && !unzipLabelSet_) {
    pending_.SetVisible(kIdStatusLabel, false);
    pending_.SetText(kIdStatusLabel, "正在解压：");
    unzipLabelSet_ = true;
  }
  // The progress text follows the percentage, not the text: same percentage, same text.
  if (oldPos != percent) {
    pending_.SetVisible(kIdProgressText, false);
    pending_.SetText(kIdProgressText, progressText);
  }
  return pending_.NeedsApply();
}

bool CWebCDlg::ShowProgressView() { return ShowView(true); }

bool CWebCDlg::ShowMessageView() { return ShowView(false); }

// The progress view (bar, phase label, progress text) and the message view exclude each other.
bool CWebCDlg::ShowView(bool progress) {
  std::lock_guard<std::mutex> lock(progressLock_);
  if (!hasView_) return false;
  pending_.SetVisible(kIdProgressBar, progress);
  pending_.SetVisible(kIdMessageText, !progress);
  pending_.SetVisible(kIdStatusLabel, progress);
  pending_.SetVisible(kIdProgressText, progress);
  return pending_.NeedsApply();
}

// Taken under the operations' lock, so a batch never holds half of one operation; applied
// outside it, so the worker never waits while the view repaints.
void CWebCDlg::ApplyProgress() {
  PendingControls::Batch batch;
  {
    std::lock_guard<std::mutex> lock(progressLock_);
    batch = pending_.Take();
  }
  if (view_) batch.ApplyTo(*view_);
}

std::string CWebCDlg::JavascriptToCPLUSPLUS(const std::string& method, const std::string& parameters) {
  LogInfo(os::TruncateUtf16("method:" + method + ",paramters:" + parameters, 2047), "CWebCDlg::JavascriptToCPLUSPLUS",
          "CWebCDlg", 185);
  std::string result;
  if (method == "LoginResult") {
    launch_.OnLoginResult(parameters);
  } else if (method == "GetCommandLine") {
    result = os::ExecutablePath();
  }
  return result;
}
