#include "app/CWebApp.h"

#include <cerrno>
#include <chrono>
#include <cstdio>

#include "Identity.h"
#include "browser/CWebBrowserHelper.h"
#include "log/LauncherLog.h"
#include "os/CodePage.h"
#include "os/CrashHandler.h"
#include "os/FileSystem.h"
#include "os/MessageBox.h"
#include "os/Prefix.h"
#include "os/Process.h"
#include "ui/CImpIDispatch.h"
#include "ui/CWebDlg.h"
#include "update/CGameRemoteConfig.h"

namespace {

// How long the closing launcher waits for an extraction to stop; one normally stops within a
// block of 8 KiB.
constexpr std::chrono::milliseconds kExtractionExitWait{5000};

}  // namespace

CWebApp::CWebApp(LauncherContext& context) : ctx_(context) {}

CWebApp::~CWebApp() = default;

// "创建数据目录失败,错误id:%d": reported, shown, and the start ends without a window.
void CWebApp::ReportDataDirFailure(int error) {
  char text[128];
  std::snprintf(text, sizeof text, "创建数据目录失败,错误id:%d", error);
  ctx_.telemetry.Log(text);
  os::ShowMessageBox(text, ctx_.layout.appName, os::MsgIcon::Warning, os::MsgButtons::Ok);
}

bool CWebApp::InitApplication() {
  // The prefix holds the drives and the registry store: settle it before anything writes there.
  // Without any home directory there is no place of the user's own for it (and never a shared
  // one): the start fails like an install directory that cannot be created.
  if (os::PrefixDir().empty()) {
    ReportDataDirFailure(ENOENT);
    return false;
  }
  os::EnsurePrefix();
  // The log's directory is the install folder on drive C:; on a first run it does not exist yet
  // and the log stays silent for the whole run. Until InitInstance knows that no other launcher
  // runs, the file is left as it is (it may be the running launcher's) and lines wait in memory.
  LauncherLog::Instance().OpenHeld(InstallLayout::LogPathFor(ctx_.layout.appName));

  CWebBrowserHelper(ctx_.machine.Is64BitWindows(), ctx_.layout.appName).FixBrowserVersion();

  ctx_.telemetry.LogEvent(Create);
  ctx_.telemetry.Log("launcher start");

  const std::string installDir =
      InstallLayout::SettleInstallDir(CGameRemoteConfig(ctx_).QueryRegistryKey(), os::ExecutableDir());
  ctx_.layout = InstallLayout::Build(installDir, ctx_.layout.appName);
  const InstallLayout& layout = ctx_.layout;

  if (!os::IsDirectory(layout.dataDir)) {
    int error = 0;
    if (!os::IsDirectory(layout.installDir)) error = os::MakeDirectory(layout.installDir);
    if (error == 0) error = os::MakeDirectory(layout.dataDir);
    if (error != 0) {
      ReportDataDirFailure(error);
      return false;
    }
  }

  if (!os::CrashHandlerInstalled()) os::InstallCrashHandler(layout.dumpBasePath);

  LogInfo(layout.installDir, "CWebApp::InitApplication", "CWebApp", 227);
  LogInfo(layout.dataDir, "CWebApp::InitApplication", "CWebApp", 228);
  return true;
}

bool CWebApp::InitInstance() {
  scriptBridge_ = std::make_unique<CImpIDispatch>([this] { return MainWindow(); });

  if (os::EqualsNoCase(os::ArgumentString(), "/uninstall")) {
    UnInstall();
    instanceMutex_.Release();
    processEnded_ = true;
    return false;
  }

  // A lock that cannot be created at all does not stop the launcher (like a failed mutex creation).
  bool refused =
      instanceMutex_.Acquire(identity::GameShortName) == os::InstanceLock::Result::AlreadyExists || IsGameRunning();
  if (refused) {
    LauncherLog::Instance().Abandon();
    os::ShowMessageBox("游戏已启动", identity::GameShortName, os::MsgIcon::Information, os::MsgButtons::Ok);
    processEnded_ = true;
    return false;
  }

  LauncherLog::Instance().Start();
  LogInfo("Laucher Start", "CWebApp::InitInstance", "CWebApp", 130);

  auto dlg = std::make_unique<CWebDlg>(ctx_);
  mainWindow_ = dlg.get();
  if (windowRunner_) windowRunner_(*dlg, scriptBridge_.get());
  mainWindow_ = nullptr;
  // The update worker calls the window from its own thread and may still be inside a call when
  // the window closes: stop its work and let it end before the window object goes. An extraction
  // stops at its next block (the client is then left without a version record and the next run
  // extracts the package again); the exit waits for that, but not for ever: a disk that hangs
  // must not keep the process. A worker that does not end in time keeps the object, and main
  // ends the process without returning through the exit handlers (WorkerFinished).
  ctx_.updateState.RequestCancel();
  if (!ctx_.updateState.WaitWhileExtracting(kExtractionExitWait)) {
    LogError("extraction still running at exit", "CWebApp::InitInstance", "CWebApp", 132);
  }
  if (!dlg->WaitForUpdateWorker(3000)) {
    LogError("update worker still running at exit", "CWebApp::InitInstance", "CWebApp", 131);
    workerFinished_ = false;
    (void)dlg.release();
  }
  return false;
}

int CWebApp::ExitInstance() {
  scriptBridge_.reset();
  os::RemoveCrashHandler();
  return 0;
}
