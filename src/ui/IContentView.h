// What the content window's logic needs from its on-screen view (the GTK layer implements it;
// tests use a recorder). Called on the UI thread only.
#pragma once

#include <string>

// Control ids of the content window.
enum ContentControlId {
  kIdCloseButton = 101,
  kIdMinimiseButton = 102,
  kIdProgressBar = 1000,
  kIdProgressText = 1001,
  kIdStatusLabel = 1002,
  kIdMessageText = 1003,
  kIdBrowser = 1005,
};

class IContentView {
 public:
  virtual ~IContentView() = default;

  virtual void SetControlText(int controlId, const std::string& text) = 0;
  virtual void SetControlVisible(int controlId, bool visible) = 0;
  // Stores the progress bar's position and repaints it.
  virtual void SetProgressPos(int pos) = 0;
  // Opens the login page; documents of its origin are the only ones the script bridge serves.
  virtual void Navigate(const std::string& url) = 0;
  // The Ready flag changed: the page's synchronous view of it is brought up to date.
  virtual void OnReadyChanged(bool /*ready*/) {}
};

// What the main window's logic needs from its on-screen view. UI thread only.
class IMainWindowView {
 public:
  virtual ~IMainWindowView() = default;

  virtual void Hide() = 0;
  virtual void Minimise() = 0;
  // Ends the window's modal run; result 1 (OK) or 2 (cancel).
  virtual void EndModal(int result) = 0;
  // Native id of the window (an X window id), handed to the platform as the sender.
  virtual unsigned long NativeId() const = 0;
};
