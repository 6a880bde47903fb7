#include "ui/win32/Win32FrontEnd.h"

#include <windows.h>

#include <memory>

#include "log/LauncherLog.h"
#include "os/FileSystem.h"
#include "os/Process.h"
#include "os/SystemMessageBox.h"
#include "ui/CImpIDispatch.h"
#include "ui/CWebDlg.h"
#include "ui/UiThread.h"
#include "ui/win32/ContentView.h"
#include "ui/win32/MainWindowView.h"

#ifndef VELLMORA_RES_DIR
#define VELLMORA_RES_DIR "res"
#endif

namespace {

HWND gActiveWindow = nullptr;  // owner of message boxes while the launcher window exists

}  // namespace

std::string ResourceDir() {
  const std::string besideExe = os::JoinPath(os::ExecutableDir(), "res");
  if (os::PathExists(os::JoinPath(besideExe, "background.png"))) return besideExe;
  return VELLMORA_RES_DIR;
}

void InstallWin32MessageBoxPresenter() {
  os::SetMessageBoxPresenter(os::SystemMessageBoxPresenter([]() -> void* { return gActiveWindow; }));
}

int RunLauncherWindowWith(CWebDlg& dlg, const LauncherWindowOptions& options) {
  ui::UiThreadInit();
  const std::string resources = options.resourceDir.empty() ? ResourceDir() : options.resourceDir;

  std::unique_ptr<CImpIDispatch> ownBridge;
  CImpIDispatch* bridge = options.bridge;
  if (!bridge) {
    ownBridge = std::make_unique<CImpIDispatch>([&dlg] { return &dlg; });
    bridge = ownBridge.get();
  }

  dlg.CreateContent();
  auto main = std::make_unique<MainWindowView>(resources, [&dlg] { dlg.OnSystemClose(); });
  if (!main->Window()) return -1;
  ContentView::Actions actions;
  actions.minimise = [&main] {
    if (main) main->Minimise();
  };
  actions.close = [&dlg] { dlg.Close(); };
  auto content = std::make_unique<ContentView>(resources, main->Window(), actions);
  main->SetContent(content.get());
  PageHostParams page;
  page.bridge = bridge;
  page.openExternally = options.openExternally;
  content->CreatePage(options.pageHost, page);

  dlg.AttachView(main.get());
  dlg.Content()->AttachView(content.get());
  main->Show();
  gActiveWindow = main->Window();
  if (options.onShown) options.onShown(LauncherWindowParts{main.get(), content.get()});

  if (options.startWorker) {
    options.startWorker();
  } else {
    dlg.StartUpdateWorker();
  }
  const int result = main->RunModal();

  // Release any worker waiting on the window before anything that may wait on the worker.
  ui::UiThreadShutdown();
  gActiveWindow = nullptr;
  dlg.OnDestroy();
  dlg.Content()->AttachView(nullptr);
  dlg.AttachView(nullptr);
  main->SetContent(nullptr);
  content.reset();
  main.reset();
  return result;
}
