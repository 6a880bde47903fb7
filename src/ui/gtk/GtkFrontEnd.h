// The GTK front end's entry points. Main (UI) thread.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "browser/gtk/WebViewHost.h"

class CWebDlg;
class CImpIDispatch;
class ContentView;
class MainWindowView;

// Runs the launcher window: creates the content window and the views, attaches them, starts the
// update worker, runs until the window's run ends, then marks the UI as gone (pending window
// operations return at once) and destroys the window (resume state saved, "wnd destory").
// Page calls go to bridge; without one, to a bridge of this window's own.
void RunLauncherWindow(CWebDlg& dlg, CImpIDispatch* bridge = nullptr);

// Shows os::ShowMessageBox through GTK dialogs (caption, icon, buttons); only when a display can
// be opened, otherwise the default presenter stays.
void InstallGtkMessageBoxPresenter();

// The window while it runs, as the options' hooks see it.
struct LauncherWindowParts {
  MainWindowView* main = nullptr;
  ContentView* content = nullptr;
};

struct LauncherWindowOptions {
  // Page -> launcher calls (dispatch id, arguments reversed). Empty: the bridge given or owned.
  WebViewHost::ExternalCall external;
  CImpIDispatch* bridge = nullptr;
  // Starts the update worker; empty: dlg.StartUpdateWorker().
  std::function<void()> startWorker;
  // UI thread, once the window is shown and before the loop runs.
  std::function<void(const LauncherWindowParts&)> onShown;
  // Where new windows' addresses go; empty: the user's default browser.
  WebViewHost::UriOpener openExternally;
  // Directory of the pictures; empty: ResourceDir().
  std::string resourceDir;
};

// The same run with hooks (tests and tools). Returns the run's result (1 OK, 2 cancel), or -1
// when no display could be opened.
int RunLauncherWindowWith(CWebDlg& dlg, const LauncherWindowOptions& options);

// The directory the pictures are taken from: res/ next to the executable, else the installed data
// folder (relative to the executable, then the configured one), else the source tree's res/.
std::string ResourceDir();
