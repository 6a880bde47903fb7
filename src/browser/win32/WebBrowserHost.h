// The page in the system's web browser control (CLSID_WebBrowser, through OLE), hosted by a
// launcher window: the site of BrowserSite.h, the control hidden until its first top-level document
// is complete, new windows never opened (an http or https address goes to the user's browser after
// a click and at most 3 a minute, anything else is refused with an ERROR line, as NewWindowGate
// decides), and the bridge's origin gate: the login page's origin is where the top-level
// navigation to the address given to Navigate ends, after the server's redirects. The emulation
// values (CWebBrowserHelper) are written by start-up before any window exists. Create the host,
// hand Gate() and CallerOrigin() to the page's external object, then Create the control.
// UI thread only (a single-threaded COM apartment).
#pragma once

#include <exdisp.h>
#include <ole2.h>
#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "browser/BridgeGate.h"
#include "browser/NewWindowGate.h"
#include "browser/win32/BrowserEvents.h"
#include "browser/win32/ThreadKeyHook.h"
#include "os/base/ComRef.h"

class BrowserSite;

class WebBrowserHost final : private IBrowserEventsHandler {
 public:
  using UriOpener = std::function<void(const std::string& uri)>;
  // Called once the first top-level document is complete and the control shows.
  using Shown = std::function<void()>;

  // openExternally hands an address to the user's browser (default: the shell's "open").
  explicit WebBrowserHost(UriOpener openExternally = nullptr, Shown shown = nullptr);
  ~WebBrowserHost() override;
  WebBrowserHost(const WebBrowserHost&) = delete;
  WebBrowserHost& operator=(const WebBrowserHost&) = delete;

  // Creates the control over the whole client area of parent, hidden; external becomes the page's
  // window.external. False (logged) when the control cannot be created.
  bool Create(HWND parent, IDispatch* external);

  // Opens the login page; the origin where its navigation ends becomes the only one the gate admits.
  void Navigate(const std::string& url);
  // Moves the control within its parent.
  void SetBounds(const RECT& bounds);
  // Gives the control a key message meant for it or its windows (the key filter runs there):
  // true when the control used it. Create installs a hook that does this for the thread's loops.
  bool TranslateKey(MSG& message);

  // The page's external object asks these at each call.
  BridgeGate& Gate() { return gate_; }
  // The origin of the document the control shows now; empty when it has none.
  std::string CallerOrigin() const;

  bool Created() const { return static_cast<bool>(browser_); }
  // The window of the control (null before Create or when in-place activation failed).
  HWND ControlWindow() const;

  // The shell's "open" for an address, logging a failure.
  static void OpenWithDefaultBrowser(const std::string& uri);

 private:
  void OnNewWindow(const std::string& url, bool userInitiated) override;
  void OnNavigateComplete(IDispatch* frame, const std::string& url) override;
  void OnDocumentComplete(IDispatch* frame, const std::string& url) override;
  bool IsTopLevel(IDispatch* frame) const;
  void Destroy();

  UriOpener openExternally_;
  Shown shown_;
  BridgeGate gate_;
  NewWindowGate newWindows_;
  bool awaitingEntry_ = false;  // the navigation to the login page has not ended yet
  bool shownOnce_ = false;
  os::win32::ComRef<BrowserSite> site_;
  os::win32::ComRef<BrowserEvents> events_;
  os::win32::ComRef<IOleObject> ole_;
  os::win32::ComRef<IWebBrowser2> browser_;
  os::win32::ComRef<IConnectionPoint> eventPoint_;
  DWORD eventCookie_ = 0;
  std::unique_ptr<ThreadKeyHook> keys_;
};
