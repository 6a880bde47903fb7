#include "ui/win32/TaskbarProgress.h"

#include <algorithm>
#include <string>

#include "log/LauncherLog.h"

void TaskbarProgress::Attach(HWND window) { window_ = window; }

// Made on first use, so a launcher whose bar never shows never asks the shell.
bool TaskbarProgress::Ready() {
  if (list_) return true;
  if (failed_ || !window_) return false;
  HRESULT hr = CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3, list_.OutVoid());
  if (SUCCEEDED(hr)) hr = list_->HrInit();
  if (FAILED(hr)) {
    list_.Reset();
    failed_ = true;
    LogInfo("no task-bar progress, error " + std::to_string(static_cast<unsigned long>(hr)), "TaskbarProgress",
            "TaskbarProgress", __LINE__);
    return false;
  }
  return true;
}

void TaskbarProgress::SetVisible(bool visible) {
  if (visible == visible_) return;
  visible_ = visible;
  if (!Ready()) return;
  list_->SetProgressState(window_, visible ? TBPF_NORMAL : TBPF_NOPROGRESS);
  if (visible && percent_ >= 0) list_->SetProgressValue(window_, static_cast<ULONGLONG>(percent_), 100);
}

void TaskbarProgress::SetPercent(int percent) {
  percent = std::clamp(percent, 0, 100);
  if (percent == percent_) return;
  percent_ = percent;
  if (visible_ && Ready()) list_->SetProgressValue(window_, static_cast<ULONGLONG>(percent), 100);
}
