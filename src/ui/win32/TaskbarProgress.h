// The launcher's progress on its task-bar button (ITaskbarList3) while the window's bar shows.
// Where the shell has no task-bar list (an old system, a bare Wine desktop) nothing else changes;
// that is logged once. UI thread only, with COM initialised on it.
#pragma once

#include <windows.h>

struct ITaskbarList3;

class TaskbarProgress {
 public:
  TaskbarProgress() = default;
  ~TaskbarProgress();
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
  ITaskbarList3* list_ = nullptr;
  bool failed_ = false;
  bool visible_ = false;
  int percent_ = -1;
};
