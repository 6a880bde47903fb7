// The Windows front end's entry points. Main (UI) thread, with COM (OLE) initialised on it.
#pragma once

#include <functional>
#include <string>

#include "ui/win32/PageHost.h"

class CWebDlg;
class CImpIDispatch;
class ContentView;
class MainWindowView;

// The window while it runs, as the options' hooks see it.
struct LauncherWindowParts {
  MainWindowView* main = nullptr;
  ContentView* content = nullptr;
};

struct LauncherWindowOptions {
  // Makes the page's host in the content window; empty: the launcher runs without a page.
  PageHostFactory pageHost;
  // Where the page's calls go; null: a bridge bound to this window.
  CImpIDispatch* bridge = nullptr;
  // Starts the update worker; empty: dlg.StartUpdateWorker().
  std::function<void()> startWorker;
  // UI thread, once the window is shown and before the loop runs.
  std::function<void(const LauncherWindowParts&)> onShown;
  // Where new windows' http/https addresses go; empty: the user's default browser.
  std::function<void(const std::string& url)> openExternally;
  // Directory of the pictures; empty: ResourceDir().
  std::string resourceDir;
};

// Runs the launcher window: creates the main and content windows and the views, attaches them,
// starts the update worker, runs the message loop until the window's run ends, then marks the UI
// as gone (pending window operations return at once) and destroys the windows (resume state
// saved, "wnd destory"). Returns the run's result (1 OK, 2 cancel), or -1 when the window could
// not be created.
int RunLauncherWindowWith(CWebDlg& dlg, const LauncherWindowOptions& options);

// Message boxes through MessageBoxW, owned by the launcher window while it exists.
void InstallWin32MessageBoxPresenter();

// The directory the pictures are taken from: res/ next to the executable, else the source tree's.
std::string ResourceDir();
