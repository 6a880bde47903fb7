#include "app/CWebApp.h"

#include <cstdlib>

#include "Identity.h"
#include "browser/CWebBrowserHelper.h"
#include "log/LauncherLog.h"
#include "net/WebLogger.h"
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
CWebApp* g_app = nullptr;
}

CWebApp::CWebApp() : exitProcess([](int code) { std::exit(code); }) { g_app = this; }

CWebApp::~CWebApp() {
  if (g_app == this) g_app = nullptr;
}

CWebApp* CWebApp::Get() { return g_app; }

std::string CWebApp::GameExecutablePath() const {
  return os::JoinPath(os::JoinPath(dataDir_, identity::GameShortName), identity::GameShortName);
}

std::string CWebApp::SettleInstallDir(const std::string& registryValue, const std::string& launcherDir) {
  const std::string folder = std::string("qvx-") + identity::ChannelName;
  // On an ordinary machine the installation always lives on drive C:, whatever came before.
  if (os::DriveExists('C')) return os::JoinPath(os::DriveRoot('C'), folder);
  if (os::DriveExists('D')) return os::JoinPath(os::DriveRoot('D'), folder);
  if (!registryValue.empty()) return registryValue;
  return launcherDir + folder;
}

bool CWebApp::InitApplication() {
  // The prefix holds the drives and the registry store: settle it before anything writes there.
  os::EnsurePrefix();

  CWebBrowserHelper::FixBrowserVersion();

  WebLogger::Instance().LogEvent(Create);
  WebLogger::Instance().Log("launcher start");

  installDir_ = SettleInstallDir(CGameRemoteConfig::Instance().QueryRegistryKey(), os::ExecutableDir());
  dataDir_ = installDir_ + "/client";

  if (!os::IsDirectory(dataDir_)) {
    int error = 0;
    if (!os::IsDirectory(installDir_)) error = os::MakeDirectory(installDir_);
    if (error == 0) error = os::MakeDirectory(dataDir_);
    if (error != 0) {
      char text[128];
      std::snprintf(text, sizeof text, "创建数据目录失败,错误id:%d", error);
      WebLogger::Instance().Log(text);
      os::ShowMessageBox(text, os::ApplicationName(), os::MsgIcon::Warning, os::MsgButtons::Ok);
      return false;
    }
  }
  CGameRemoteConfig::SetDirectories(installDir_, dataDir_);

  dumpBasePath_ = installDir_ + "/" + os::ApplicationName();
  if (!os::CrashHandlerInstalled()) os::InstallCrashHandler(dumpBasePath_);

  LogInfo(installDir_, "CWebApp::InitApplication", "CWebApp", 227);
  LogInfo(dataDir_, "CWebApp::InitApplication", "CWebApp", 228);
  return true;
}

bool CWebApp::InitInstance() {
  scriptBridge_ = std::make_unique<CImpIDispatch>([] { return g_app ? g_app->MainWindow() : nullptr; });

  if (os::EqualsNoCase(os::ArgumentString(), "/uninstall")) {
    UnInstall();
    instanceMutex_.Release();
    exitProcess(0);
    return false;
  }

  // A lock that cannot be created at all does not stop the launcher (like a failed mutex creation).
  bool refused = instanceMutex_.Acquire(identity::GameShortName) == os::InstanceLock::Result::AlreadyExists ||
                 IsGameRunning();
  if (refused) {
    os::ShowMessageBox("游戏已启动", identity::GameShortName, os::MsgIcon::Information, os::MsgButtons::Ok);
    exitProcess(0);
    return false;
  }

  LogInfo("Laucher Start", "CWebApp::InitInstance", "CWebApp", 130);

  auto dlg = std::make_unique<CWebDlg>();
  mainWindow_ = dlg.get();
  if (windowRunner_) windowRunner_(*dlg);
  mainWindow_ = nullptr;
  // The update worker calls the window from its own thread and may still be inside a call (or
  // finishing a game launch) when the window closes: stop its transfer and let it end before the
  // window object goes. One that does not end in time keeps the object; the process exits anyway.
  CGameRemoteConfig::RequestCancel();
  if (!CGameRemoteConfig::WaitForWorker(3000)) {
    LogError("update worker still running at exit", "CWebApp::InitInstance", "CWebApp", 131);
    dlg.release();
  }
  return false;
}

int CWebApp::ExitInstance() {
  scriptBridge_.reset();
  os::RemoveCrashHandler();
  return 0;
}
