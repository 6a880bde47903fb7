// The launcher's progress on its task-bar button (ITaskbarList3) while the window's bar shows.
// Where the shell has no task-bar list (an old system, a bare Wine desktop) nothing else changes;
// that is logged once. UI thread only, with COM initialised on it.
#pragma once

#include <shobjidl.h>
#include <windows.h>

#include "os/base/ComRef.h"

class TaskbarProgress {
 public:
  TaskbarProgress() = default;
  TaskbarProgress(const TaskbarProgress&) = delete;
  TaskbarProgress& operator=(const TaskbarProgress&) = delete;

  // The window whose button shows the progress (the main window).
  void Attach(HWND window);
  // Position within 0..100 (values outside are clamped); sent when it changes the whole percent.
  void SetPercent(int percent);
  void SetVisible(bool visible);

 private:
  bool Ready();

  HWND window_ = nullptr;
  os::win32::ComRef<ITaskbarList3> list_;
  bool failed_ = false;
  bool visible_ = false;
  int percent_ = -1;
};
