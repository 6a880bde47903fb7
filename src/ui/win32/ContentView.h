// The content window: an owned pop-up kept exactly over the main window, its black background
// keyed out (LWA_COLORKEY) so only its controls show over the picture: the page, the progress bar,
// the three labels and the two buttons at their pixel positions. Implements the view the content
// window's logic drives. UI thread only.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "controls/CGradientProgressCtrl.h"
#include "controls/CPngButton.h"
#include "ui/ContentLabels.h"
#include "ui/IContentView.h"
#include "ui/win32/PageHost.h"
#include "ui/win32/TaskbarProgress.h"

class ContentView : public IContentView {
 public:
  struct Actions {
    std::function<void()> minimise;
    std::function<void()> close;
  };

  // owner: the main window, which the content window follows.
  ContentView(const std::string& resourceDir, HWND owner, Actions actions);
  ~ContentView() override;
  ContentView(const ContentView&) = delete;
  ContentView& operator=(const ContentView&) = delete;

  HWND Window() const { return window_; }
  HWND ControlWindow(int controlId) const;
  const CGradientProgressCtrl& ProgressBar() const { return bar_; }
  std::string ControlText(int controlId) const;

  // The page goes into its rectangle (see PageHost.h); without a factory there is no page.
  void CreatePage(const PageHostFactory& factory, PageHostParams params);

  // Keeps the window on the owner's screen rectangle (the owner's WM_MOVE and WM_SHOWWINDOW).
  void FollowOwner();
  void ShowWithOwner(bool shown);

  // IContentView
  void SetControlText(int controlId, const std::string& text) override;
  void SetControlVisible(int controlId, bool visible) override;
  void SetProgressPos(int pos) override;
  void Navigate(const std::string& url) override;
  void OnReadyChanged(bool ready) override;

 private:
  static LRESULT CALLBACK WindowProc(HWND, UINT, WPARAM, LPARAM);

  std::string resourceDir_;
  HWND owner_;
  Actions actions_;
  HWND window_ = nullptr;
  HCURSOR cursor_ = nullptr;
  CGradientProgressCtrl bar_;
  ContentLabels labels_;
  CPngButton minimise_, close_;
  std::unique_ptr<IPageHost> page_;
  TaskbarProgress taskBar_;
  HWND barWindow_ = nullptr;
  HWND statusWindow_ = nullptr;
  HWND progressTextWindow_ = nullptr;
  HWND messageWindow_ = nullptr;
  HWND minimiseWindow_ = nullptr;
  HWND closeWindow_ = nullptr;
};
