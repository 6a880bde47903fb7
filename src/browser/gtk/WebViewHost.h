// The embedded page: a WebKitGTK view that behaves like part of the launcher. No context menu,
// no scroll bars (the wheel still scrolls), refresh/open/print/new-window keys swallowed, script
// alerts and confirms shown as the launcher's own error box, new windows of http and https
// addresses sent to the default browser after a user's click and at most 3 a minute (others
// dropped), and window.external with exactly
// JavascriptToCsharp, AppLogin and IsDownLoadComplete. The view stays hidden until its main
// document has loaded (the blank document that starts the web process early is never shown).
// UI thread only.
//
// The external object exists only in documents of the login page's origin (scheme, host, port of
// the address where the navigation to the address given to Navigate ends, after the server's
// redirects), in the main frame and in frames alike. Page scripts reach the
// launcher only through a private script world that reports each call with its document's origin,
// which the page cannot forge; calls of any other origin are refused here with an ERROR line naming
// it. Other origins can still be shown, without the bridge. A frame of another origin than its
// document's is sandboxed so that it can move the top window only on a user's click; the main
// frame itself navigates freely.
#pragma once

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include "browser/BridgeGate.h"
#include "browser/NewWindowGate.h"

#include <functional>
#include <string>
#include <vector>

class WebViewHost {
 public:
  // A call from the page's external object: dispatch id (1 JavascriptToCsharp, 2 AppLogin) and the
  // script's arguments in reverse order, as strings.
  using ExternalCall = std::function<void(int dispid, const std::vector<std::string>& reversedArgs)>;
  using UriOpener = std::function<void(const std::string& uri)>;

  WebViewHost(ExternalCall onExternalCall, UriOpener openExternally);
  ~WebViewHost();
  WebViewHost(const WebViewHost&) = delete;
  WebViewHost& operator=(const WebViewHost&) = delete;

  GtkWidget* Widget() const { return GTK_WIDGET(view_); }
  WebKitWebView* View() const { return view_; }

  // Opens the login page; the origin where its navigation ends (after the server's redirects)
  // becomes the only one the external object serves.
  void Navigate(const std::string& url);
  // Starts the page's web process now (with a blank document that is never shown), so that
  // Navigate can load at once instead of waiting for the process to start.
  void Prewarm();

  // The values the page reads back synchronously: IsDownLoadComplete() and the launcher path
  // that JavascriptToCsharp("GetCommandLine", ...) answers, in every document that has the bridge.
  void SetMirror(bool ready, const std::string& launcherPath);

  // How many times the page asked for a second view (always refused).
  int NewViewRequests() const { return newViewRequests_; }

  // Opens a URI with the user's default handler (the default opener).
  static void OpenWithDefaultBrowser(const std::string& uri);

  // The origin of an http or https address as the engine writes it; empty for any other.
  static std::string OriginOf(const std::string& url);

 private:
  void InstallScript();

  static gboolean OnContextMenu(WebKitWebView*, WebKitContextMenu*, GdkEvent*, WebKitHitTestResult*, gpointer);
  static gboolean OnKeyPress(GtkWidget*, GdkEventKey*, gpointer);
  static gboolean OnScroll(GtkWidget*, GdkEventScroll*, gpointer);
  static gboolean OnScriptDialog(WebKitWebView*, WebKitScriptDialog*, gpointer);
  static gboolean OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision*, WebKitPolicyDecisionType, gpointer);
  static GtkWidget* OnCreate(WebKitWebView*, WebKitNavigationAction*, gpointer);
  static void OnLoadChanged(WebKitWebView*, WebKitLoadEvent, gpointer);
  static void OnScriptMessage(WebKitUserContentManager*, WebKitJavascriptResult*, gpointer);

  WebKitWebView* view_ = nullptr;
  WebKitUserContentManager* content_ = nullptr;
  ExternalCall onExternalCall_;
  UriOpener openExternally_;
  bool ready_ = false;
  std::string launcherPath_;
  BridgeGate gate_;             // the login page's origin, and the calls it admits
  bool awaitingEntry_ = false;  // the navigation to the login page has not had its final answer yet
  NewWindowGate newWindows_;
  int newViewRequests_ = 0;
  bool pageCommitted_ = false;  // a document other than the prewarm's blank one has been committed
};
