// The login page in the content window: a child window at the page's rectangle holding the
// system's web browser control (browser/win32/WebBrowserHost.h), with the bridge as the page's
// window.external (ExternalDispatch.h) behind the host's origin gate. MakeBrowserPage is the page
// host factory the front end takes. UI thread only, with OLE initialised on it.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "ui/win32/PageHost.h"

class ExternalDispatch;
class WebBrowserHost;

class BrowserPage final : public IPageHost {
 public:
  explicit BrowserPage(const PageHostParams& params);
  ~BrowserPage() override;
  BrowserPage(const BrowserPage&) = delete;
  BrowserPage& operator=(const BrowserPage&) = delete;

  HWND Window() const override { return window_; }
  void Navigate(const std::string& url) override;

  // The control exists (false: logged, the launcher runs without its page).
  bool HasControl() const;
  WebBrowserHost& Host() { return *host_; }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  HWND window_ = nullptr;
  std::unique_ptr<WebBrowserHost> host_;
  std::unique_ptr<ExternalDispatch> external_;
};

// The factory for LauncherWindowOptions::pageHost: a BrowserPage, or null when its window could
// not be created.
std::unique_ptr<IPageHost> MakeBrowserPage(const PageHostParams& params);
