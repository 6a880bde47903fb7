// Uninstall mode and the two helpers it shares with start-up. Main thread; uninstall runs in its
// own process instead of the launcher window.
#include <string>

#include "Identity.h"
#include "app/CWebApp.h"
#include "log/LauncherLog.h"
#include "os/DelayedRemoval.h"
#include "os/FileSystem.h"
#include "os/MessageBox.h"
#include "os/Prefix.h"
#include "os/Process.h"
#include "os/RemoveTree.h"
#include "os/ShellFolders.h"
#include "os/WineRunner.h"
#include "update/CGameRemoteConfig.h"

namespace {

constexpr char kModule[] = "CWebApp";
constexpr char kRunningMessage[] = "游戏正在运行,请关闭游戏后重试";
constexpr char kConfirmMessage[] = "确定要卸载吗?";
constexpr char kFailedMessage[] = "卸载失败,可能是因为游戏正在运行或文件夹被占用。";

// A file removed only when it lies inside root once its directory is resolved; a link is
// removed as a link.
bool RemoveFileInside(const std::string& path, const std::string& root) {
  const std::string located = os::LocateInside(path, root);
  return !located.empty() && os::RemoveFile(located) == 0;
}

}  // namespace

bool CWebApp::DeleteInside(const std::string& dir, const std::string& root) {
  const std::string located = os::LocateInside(dir, root);
  return !located.empty() && DeleteNotNullDir(located);
}

void CWebApp::UnInstall() {
  // A running launcher or game refuses the uninstall; the running launcher's log stays as it is.
  if (instanceMutex_.Acquire(identity::GameShortName) == os::InstanceLock::Result::AlreadyExists || IsGameRunning()) {
    LauncherLog::Instance().Abandon();
    os::ShowMessageBox(kRunningMessage, identity::GameShortName, os::MsgIcon::Information);
    return;
  }
  LauncherLog::Instance().Start();
  if (os::ShowMessageBox(kConfirmMessage, ctx_.layout.appName, os::MsgIcon::Question, os::MsgButtons::YesNo) !=
      os::MsgAnswer::Yes) {
    return;
  }
  ctx_.telemetry.Log("game uninstall start");
  LogInfo("Begin uninstall", "CWebApp::UnInstall", kModule, 269);
  const InstallLayout& layout = ctx_.layout;
  LogInfo(layout.dataDir, "CWebApp::UnInstall", kModule, 272);

  // Every removal acts on the path as the file system resolves it (links and ".." included), and
  // only inside the folder it belongs to: the client directory inside the prefix, the start-menu
  // folder inside the start menu, the desktop link inside the desktop. Anything else (a tampered
  // install path, a planted link) is treated like a path that could not be deleted.
  if (os::PathExists(layout.dataDir)) {
    const std::string dataDir = os::RemovableTree(layout.dataDir);
    if (dataDir.empty() || !DeleteNotNullDir(dataDir)) {
      LogError("unistall error", "CWebApp::UnInstall", kModule, 277);
      os::ShowMessageBox(kFailedMessage, identity::GameShortName, os::MsgIcon::Information);
      return;
    }
  }

  const std::string& startMenu = layout.startMenuFolder;
  LogInfo(startMenu, "CWebApp::UnInstall", kModule, 289);
  if (os::PathExists(startMenu) && !DeleteInside(startMenu, os::StartMenuDir())) {
    LogError("unistall error", "CWebApp::UnInstall", kModule, 295);
    os::ShowMessageBox(kFailedMessage, identity::GameShortName, os::MsgIcon::Information);
    return;
  }

  const std::string desktopLink =
      os::JoinPath(layout.desktopDir, std::string(identity::ProductName) + os::LinkExtension());
  LogInfo(desktopLink, "CWebApp::UnInstall", kModule, 305);
  if (os::PathExists(desktopLink) && !RemoveFileInside(desktopLink, layout.desktopDir)) {
    LogError("unistall error", "CWebApp::UnInstall", kModule, 311);
    os::ShowMessageBox(kFailedMessage, identity::GameShortName, os::MsgIcon::Information);
  }

  CGameRemoteConfig(ctx_).RemoveRegisties();
  LogError("unistall succ", "CWebApp::UnInstall", kModule, 317);
  // The log file lies in the installation directory; nothing is written after this.
  LauncherLog::Instance().Close();

  os::StartDelayedRemoval({layout.installDir, layout.driveCFolder});
  ctx_.telemetry.Log("game unintall success");
}

// The game runs when a process's executable is the game executable itself (the launcher copy
// shares its file name, so the name alone would refuse every start from a shortcut), or when Wine
// runs the Windows build's executable. A process list that cannot be read (a /proc that is not
// there or not readable, as in some sandboxes) is logged and counts as "not running": taking it
// for a running game would refuse every start for good, and the instance lock still keeps a
// second launcher out.
bool CWebApp::IsGameRunning() {
  bool error = false, wineError = false;
  const bool running = os::IsExecutableRunning(ctx_.layout.gameExecutable, &error) ||
                       os::IsWindowsProgramRunning(ctx_.layout.windowsGameExecutable, os::PrefixDir(), &wineError);
  if (error || wineError) LogError("get snapshot error", "CWebApp::IsGameRunning", kModule, 375);
  return running;
}

// Depth first; a file that cannot be deleted leaves its directory in place and the answer false.
// Symbolic links are deleted as links, never followed. Each directory entered is logged.
bool CWebApp::DeleteNotNullDir(const std::string& path) {
  return os::RemoveTree(path, [](const std::string& dir) { LogInfo(dir, "CWebApp::DeleteNotNullDir", kModule, 333); });
}
