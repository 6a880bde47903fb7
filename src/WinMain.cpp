// vellmora.exe: the game launcher on Windows. The main thread is the user-interface thread (a
// single-threaded COM apartment, which the page's browser control needs); it builds the one
// launcher context that everything else is handed, as main.cpp does on Linux.
#include <windows.h>

#include <objbase.h>
#include <ole2.h>
#include <shellapi.h>

#include <memory>
#include <string>
#include <vector>

#include "Identity.h"
#include "app/CWebApp.h"
#include "core/LauncherContext.h"
#include "net/MachineInfo.h"
#include "net/WebLogger.h"
#include "os/Process.h"
#include "os/base/Win32Text.h"
#include "ui/CWebDlg.h"
#include "ui/UiThread.h"
#include "ui/win32/BrowserPage.h"
#include "ui/win32/Win32FrontEnd.h"

namespace {

// The process's arguments in UTF-8, split by the system's own rules.
std::vector<std::string> Arguments() {
  std::vector<std::string> args;
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide) return args;
  for (int i = 0; i < count; ++i) args.push_back(os::win32::Narrow(wide[i], wcslen(wide[i])));
  LocalFree(wide);
  return args;
}

// OLE for the UI thread's lifetime: the browser control, drag and drop, the task-bar list.
class OleSession {
 public:
  OleSession() : ok_(SUCCEEDED(OleInitialize(nullptr))) {}
  ~OleSession() {
    if (ok_) OleUninitialize();
  }
  OleSession(const OleSession&) = delete;
  OleSession& operator=(const OleSession&) = delete;

 private:
  bool ok_;
};

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  std::vector<std::string> args = Arguments();
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  os::SetArguments(static_cast<int>(args.size()), argv.data());

  OleSession ole;
  InstallWin32MessageBoxPresenter();
  ui::UiThreadInit();

  // The reporter's notifications and timers run on this (the UI) thread's loop.
  MachineInfo machine = MachineInfo::Collect(MachineInfo::Sources{});
  auto telemetry = std::make_unique<WebLogger>(machine, identity::InfoReportUrl, identity::ErrorReportUrl);
  auto context =
      std::make_unique<LauncherContext>(*telemetry, std::move(machine), os::ArgumentString(), os::ApplicationName());
  auto app = std::make_unique<CWebApp>(*context);
  app->SetWindowRunner([](CWebDlg& dlg, CImpIDispatch* bridge) {
    LauncherWindowOptions options;
    options.bridge = bridge;
    options.pageHost = MakeBrowserPage;  // the login page in the system's browser control
    RunLauncherWindowWith(dlg, options);
  });

  int code = 1;
  if (app->InitApplication()) {
    app->InitInstance();
    code = app->ProcessEnded() ? 0 : app->ExitInstance();
  }
  if (!app->WorkerFinished()) {
    // The update worker still runs (stuck in a system call) and uses the window, the context, the
    // reporter and the network libraries: returning would destroy them under it. The resume state
    // and the log are written already; reports in flight still get their bounded wait, then the
    // process ends where it stands.
    telemetry->Shutdown();
    os::EndProcessNow(code);
  }
  return code;
}
