// What the game's launch needs from the launcher window. The launch runs on whichever thread
// completes its conditions (the page's, the update worker's, Wine's preparation) and waits for the
// game on a thread of its own, so these calls come from any of them; the window takes each to its
// UI thread itself. Once the window is gone they do nothing (NativeWindowId gives 0).
#pragma once

#include <string>

class ILaunchWindow {
 public:
  virtual ~ILaunchWindow() = default;

  // The message label shows text. Returns at once; the label changes on the UI thread.
  virtual void ShowLaunchStatus(const std::string& text) = 0;
  // A warning box with OK, on the UI thread (the only thread that calls it); returns when the
  // player has closed it.
  virtual void ShowLaunchWarning(const std::string& text) = 0;
  // The same box from any thread, shown on the UI thread after the caller has returned.
  virtual void PostLaunchWarning(const std::string& text) = 0;
  // The game has started: the window hides, and the call returns once it is hidden.
  virtual void HideForGame() = 0;
  // The window's native id, the sender of the show-window message.
  virtual unsigned long NativeWindowId() = 0;
  // The game has ended: the launcher saves its state and ends its run.
  virtual void CloseAfterGame() = 0;
};
