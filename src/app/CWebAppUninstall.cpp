// Uninstall mode and the two helpers it shares with start-up. Main thread; uninstall runs in its
// own process instead of the launcher window.
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "Identity.h"
#include "app/CWebApp.h"
#include "log/LauncherLog.h"
#include "os/FileSystem.h"
#include "os/MessageBox.h"
#include "os/Prefix.h"
#include "os/Process.h"
#include "os/ShellFolders.h"
#include "update/CGameRemoteConfig.h"

namespace {

constexpr char kModule[] = "CWebApp";
constexpr char kRunningMessage[] = "游戏正在运行,请关闭游戏后重试";
constexpr char kConfirmMessage[] = "确定要卸载吗?";
constexpr char kFailedMessage[] = "卸载失败,可能是因为游戏正在运行或文件夹被占用。";

std::string Resolved(const std::string& path) {
  char buf[PATH_MAX];
  return realpath(path.c_str(), buf) ? std::string(buf) : path;
}

// The directories uninstall may remove wholesale: strictly inside the prefix, and neither a drive
// root nor the registry (a misconfigured install path must never take those with it).
bool MayRemoveTree(const std::string& dir) {
  if (!os::IsInsidePrefix(dir)) return false;
  const std::string target = Resolved(dir);
  for (const std::string& kept : {os::DriveRoot('C'), os::DriveRoot('D'), os::RegistryDir()}) {
    if (target == Resolved(kept)) return false;
  }
  return true;
}

int RemoveEntry(const char* path, const struct stat*, int type, struct FTW*) {
  if (type == FTW_DP) {
    rmdir(path);
  } else {
    unlink(path);
  }
  return 0;
}

// Depth first, never following a symbolic link out of the tree.
void RemoveTree(const std::string& dir) {
  nftw(dir.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

// The delayed removal: a detached process (double fork, new session) that waits until this
// process has exited (its end of a pipe closes) and then removes the directories, each only when
// it still lies inside the prefix. This process keeps the pipe's write end open until it exits.
void StartDelayedRemoval(const std::vector<std::string>& dirs) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return;
  const pid_t child = fork();
  if (child < 0) {
    close(fds[0]);
    close(fds[1]);
    return;
  }
  if (child == 0) {
    setsid();
    if (fork() != 0) _exit(0);
    // The remover: no terminal, no inherited descriptors besides the read end.
    close(fds[1]);
    dup2(fds[0], 3);
    syscall(SYS_close_range, 4u, ~0u, 0u);
    const int devNull = open("/dev/null", O_RDWR);
    if (devNull >= 0) {
      dup2(devNull, 0);
      dup2(devNull, 1);
      dup2(devNull, 2);
      if (devNull > 3) close(devNull);
    }
    char byte;
    for (;;) {
      const ssize_t n = read(3, &byte, 1);
      if (n == 0 || (n < 0 && errno != EINTR)) break;
    }
    for (const std::string& dir : dirs) {
      if (MayRemoveTree(dir)) RemoveTree(dir);
    }
    _exit(0);
  }
  close(fds[0]);
  waitpid(child, nullptr, 0);
  // fds[1] stays open on purpose: the remover starts when this process is gone.
}

}  // namespace

void CWebApp::UnInstall() {
  if (instanceMutex_.Acquire(identity::GameShortName) == os::InstanceLock::Result::AlreadyExists) {
    os::ShowMessageBox(kRunningMessage, identity::GameShortName, os::MsgIcon::Information);
    return;
  }
  if (IsGameRunning()) {
    os::ShowMessageBox(kRunningMessage, identity::GameShortName, os::MsgIcon::Information);
    return;
  }
  if (os::ShowMessageBox(kConfirmMessage, ctx_.layout.appName, os::MsgIcon::Question, os::MsgButtons::YesNo) !=
      os::MsgAnswer::Yes) {
    return;
  }
  ctx_.telemetry.Log("game uninstall start");
  LogInfo("Begin uninstall", "CWebApp::UnInstall", kModule, 269);
  const InstallLayout& layout = ctx_.layout;
  LogInfo(layout.dataDir, "CWebApp::UnInstall", kModule, 272);

  if (os::PathExists(layout.dataDir)) {
    // A client directory outside the prefix (a tampered install path) is not removed: treated
    // like one that could not be deleted.
    if (!MayRemoveTree(layout.dataDir) || !DeleteNotNullDir(layout.dataDir)) {
      LogError("unistall error", "CWebApp::UnInstall", kModule, 277);
      os::ShowMessageBox(kFailedMessage, identity::GameShortName, os::MsgIcon::Information);
      return;
    }
  }

  const std::string& startMenu = layout.startMenuFolder;
  LogInfo(startMenu, "CWebApp::UnInstall", kModule, 289);
  if (os::PathExists(startMenu) && !DeleteNotNullDir(startMenu)) {
    LogError("unistall error", "CWebApp::UnInstall", kModule, 295);
    os::ShowMessageBox(kFailedMessage, identity::GameShortName, os::MsgIcon::Information);
    return;
  }

  const std::string desktopLink =
      os::JoinPath(layout.desktopDir, std::string(identity::ProductName) + os::LinkExtension());
  LogInfo(desktopLink, "CWebApp::UnInstall", kModule, 305);
  if (os::PathExists(desktopLink) && os::RemoveFile(desktopLink) != 0) {
    LogError("unistall error", "CWebApp::UnInstall", kModule, 311);
    os::ShowMessageBox(kFailedMessage, identity::GameShortName, os::MsgIcon::Information);
  }

  CGameRemoteConfig(ctx_).RemoveRegisties();
  LogError("unistall succ", "CWebApp::UnInstall", kModule, 317);
  // The log file lies in the installation directory; nothing is written after this.
  LauncherLog::Instance().Close();

  StartDelayedRemoval({layout.installDir, layout.driveCFolder});
  ctx_.telemetry.Log("game unintall success");
}

// The game runs when a process's executable is the game executable itself (the launcher copy
// shares its file name, so the name alone would refuse every start from a shortcut).
bool CWebApp::IsGameRunning() {
  bool error = false;
  const bool running = os::IsExecutableRunning(ctx_.layout.gameExecutable, &error);
  if (error) {
    LogError("get snapshot error", "CWebApp::IsGameRunning", kModule, 375);
    return true;
  }
  return running;
}

// Depth first; a file that cannot be deleted leaves its directory in place and the answer false.
// Symbolic links are deleted as links, never followed.
bool CWebApp::DeleteNotNullDir(const std::string& path) {
  LogInfo(path, "CWebApp::DeleteNotNullDir", kModule, 333);
  if (DIR* dir = opendir(path.c_str())) {
    std::unique_ptr<DIR, int (*)(DIR*)> hold(dir, closedir);
    while (const dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      const std::string child = path + "/" + name;
      struct stat st {};
      if (lstat(child.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        DeleteNotNullDir(child);
        rmdir(child.c_str());
      } else {
        unlink(child.c_str());
      }
    }
  }
  return rmdir(path.c_str()) == 0;
}
