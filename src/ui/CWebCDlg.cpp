// The content window's progress display, page address and the page's calls. Everything here runs
// on the UI thread (CWebDlg hops there before calling in).
#include "ui/CWebCDlg.h"

#include "log/LauncherLog.h"
#include "os/CodePage.h"
#include "os/Process.h"

CWebCDlg::CWebCDlg(ILaunchWindow& window, LauncherContext& context) : ctx_(context), launch_(context, window) {}

// Initialisation of the controls once the view exists: the bar at 0 and every progress control
// hidden until the update worker shows a view.
void CWebCDlg::AttachView(IContentView* view) {
  view_ = view;
  downloadLabelSet_ = false;
  unzipLabelSet_ = false;
  progressPos_.store(0);
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

void CWebCDlg::SetProgress(const std::string& message, const std::string& progressText, int percent, int downloading) {
  const int oldPos = progressPos_.load();
  progressPos_.store(percent);
  if (!view_) return;
  view_->SetProgressPos(percent);
  view_->SetControlText(kIdMessageText, message);
  // The phase label is written once per phase and never switched back.
  if (downloading != 0 && !downloadLabelSet_) {
    view_->SetControlVisible(kIdStatusLabel, false);
    view_->SetControlText(kIdStatusLabel, "正在下载：");
    downloadLabelSet_ = true;
  }
  if (downloading == 0 && !unzipLabelSet_) {
    view_->SetControlVisible(kIdStatusLabel, false);
    view_->SetControlText(kIdStatusLabel, "正在解压：");
    unzipLabelSet_ = true;
  }
  // The progress text follows the percentage, not the text: same percentage, same text.
  if (oldPos != percent) {
    view_->SetControlVisible(kIdProgressText, false);
    view_->SetControlText(kIdProgressText, progressText);
  }
}

void CWebCDlg::ShowProgressView() {
  if (!view_) return;
  view_->SetControlVisible(kIdProgressBar, true);
  view_->SetControlVisible(kIdMessageText, false);
  view_->SetControlVisible(kIdStatusLabel, true);
  view_->SetControlVisible(kIdProgressText, true);
}

void CWebCDlg::ShowMessageView() {
  if (!view_) return;
  view_->SetControlVisible(kIdProgressBar, false);
  view_->SetControlVisible(kIdMessageText, true);
  view_->SetControlVisible(kIdStatusLabel, false);
  view_->SetControlVisible(kIdProgressText, false);
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
