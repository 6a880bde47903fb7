// Uninstall against planted links and tampered paths: everything it deletes is judged where the
// file system really resolves it, and links are removed as links. Each case runs the real uninstall
// in a child process (its directories go only after it has exited), under a harness that waits
// for the delayed remover too.
#include <gtest/gtest.h>

#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/CWebApp.h"
#include "log/LauncherLog.h"
#include "os/FileSystem.h"
#include "os/MessageBox.h"
#include "os/Prefix.h"
#include "os/Registry.h"
#include "os/ShellFolders.h"
#include "support/Sandbox.h"
#include "support/TestContext.h"

namespace {

const char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\qvx";

// One installation in its own sandbox, with a directory outside everything the uninstall owns.
struct Installation {
  Installation(bool driveC, const std::function<std::string(const Installation&)>& installPath) {
    box.MakeDrives(driveC);
    os::MakeDirectories(box.Prefix());
    os::MakeDirectories(outside());
    EXPECT_EQ(os::RegCreateKey(os::RegRoot::CurrentUser, kUninstallKey), os::kRegSuccess);
    os::RegSetString(os::RegRoot::CurrentUser, kUninstallKey, "InstallPath", installPath ? installPath(*this) : "");
    context = std::make_unique<TestContext>();
    app = std::make_unique<CWebApp>(context->Get());
    EXPECT_TRUE(app->InitApplication());
    // The log lives on drive C: whatever the install directory; it is there for every case.
    os::MakeDirectories(os::DirName(context->Get().layout.logPath));
    LauncherLog::Instance().Open(context->Get().layout.logPath);
    os::MakeDirectories(app->DataDir() + "/qvx");
    Sandbox::WriteFile(app->DataDir() + "/qvx/qvx", "game");
    os::SetMessageBoxPresenter([](const std::string&, const std::string&, os::MsgIcon, os::MsgButtons buttons) {
      return buttons == os::MsgButtons::YesNo ? os::MsgAnswer::Yes : os::MsgAnswer::Ok;
    });
  }
  ~Installation() { os::SetMessageBoxPresenter(nullptr); }

  std::string outside() const { return box.Root() + "/outside"; }
  std::string startMenu() const { return os::StartMenuDir() + "/Apps/harlu7"; }
  std::string desktopLink() const { return os::DesktopDir() + "/Vellmora" + os::LinkExtension(); }

  // Runs the uninstall in a child; returns its log as it was when the child exited, once the
  // child and the remover it left have ended.
  std::string Uninstall() {
    const std::string logCopy = box.Root() + "/log-at-exit.txt";
    const pid_t harness = fork();
    if (harness == 0) {
      alarm(30);
      prctl(PR_SET_CHILD_SUBREAPER, 1);
      if (fork() == 0) {
        app->UnInstall();
        Sandbox::WriteFile(logCopy, Sandbox::ReadFile(context->Get().layout.logPath));
        _exit(0);
      }
      while (wait(nullptr) > 0 || errno == EINTR) {
      }
      _exit(0);
    }
    int status = 0;
    waitpid(harness, &status, 0);
    EXPECT_TRUE(WIFEXITED(status)) << "the remover did not finish";
    return Sandbox::ReadFile(logCopy);
  }

  Sandbox box;
  std::unique_ptr<TestContext> context;
  std::unique_ptr<CWebApp> app;
};

TEST(HostileUninstall, NothingOutsideItsFoldersIsDeleted) {
  struct Case {
    const char* what;
    bool driveC;
    // The recorded install path (used only without drive C:), or none.
    std::function<std::string(const Installation&)> installPath;
    // Plants what the case is about, after start-up settled the installation.
    std::function<void(Installation&)> plant;
    // The log line where the uninstall stops, or null when it completes.
    const char* stopsAt;
    // Paths that must survive, relative to the outside directory.
    std::vector<std::string> kept;
  } cases[] = {
      {"an install path through a link and '..' (its client directory there)",
       false,
       [](const Installation& i) {
         os::MakeDirectories(i.outside() + "/deeper");
         symlink((i.outside() + "/deeper").c_str(), (i.box.Prefix() + "/lnk").c_str());
         return i.box.Prefix() + "/lnk/../x";
       },
       [](Installation& i) { Sandbox::WriteFile(i.outside() + "/x/keep.txt", "keep"); },
       "[ERROR][CWebApp::UnInstall::277] unistall error\n",
       {"x/keep.txt", "x/client/qvx/qvx"}},
      {"an install path through a link and '..' (no client directory)",
       false,
       [](const Installation& i) {
         os::MakeDirectories(i.outside() + "/deeper");
         symlink((i.outside() + "/deeper").c_str(), (i.box.Prefix() + "/lnk").c_str());
         return i.box.Prefix() + "/lnk/../x";
       },
       [](Installation& i) {
         Sandbox::WriteFile(i.outside() + "/x/keep.txt", "keep");
         ASSERT_TRUE(i.app->DeleteNotNullDir(i.outside() + "/x/client"));
       },
       nullptr,
       {"x/keep.txt"}},
      {"the client directory replaced by a link",
       true,
       nullptr,
       [](Installation& i) {
         ASSERT_TRUE(i.app->DeleteNotNullDir(i.app->DataDir()));
         os::MakeDirectories(i.outside() + "/client");
         Sandbox::WriteFile(i.outside() + "/client/keep.txt", "keep");
         symlink((i.outside() + "/client").c_str(), i.app->DataDir().c_str());
       },
       "[ERROR][CWebApp::UnInstall::277] unistall error\n",
       {"client/keep.txt"}},
      {"the start menu's Apps folder a link",
       true,
       nullptr,
       [](Installation& i) {
         os::MakeDirectories(i.outside() + "/apps/harlu7");
         Sandbox::WriteFile(i.outside() + "/apps/harlu7/Vellmora.desktop", "keep");
         os::MakeDirectories(os::StartMenuDir());
         symlink((i.outside() + "/apps").c_str(), (os::StartMenuDir() + "/Apps").c_str());
       },
       "[ERROR][CWebApp::UnInstall::295] unistall error\n",
       {"apps/harlu7/Vellmora.desktop"}},
      {"the desktop link a link to another file",
       true,
       nullptr,
       [](Installation& i) {
         Sandbox::WriteFile(i.outside() + "/other.desktop", "keep");
         os::MakeDirectories(os::DesktopDir());
         symlink((i.outside() + "/other.desktop").c_str(), i.desktopLink().c_str());
       },
       nullptr,
       {"other.desktop"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Installation install(c.driveC, c.installPath);
    c.plant(install);
    const std::string log = install.Uninstall();
    if (c.stopsAt) {
      EXPECT_NE(log.find(c.stopsAt), std::string::npos) << log;
      EXPECT_EQ(log.find("unistall succ"), std::string::npos) << log;
      EXPECT_EQ(os::RegOpenKey(os::RegRoot::CurrentUser, kUninstallKey), os::kRegSuccess);
    } else {
      EXPECT_NE(log.find("[ERROR][CWebApp::UnInstall::317] unistall succ\n"), std::string::npos) << log;
      EXPECT_EQ(os::RegOpenKey(os::RegRoot::CurrentUser, kUninstallKey), os::kRegFileNotFound);
    }
    for (const std::string& path : c.kept)
      EXPECT_TRUE(os::PathExists(install.outside() + "/" + path)) << path << " was deleted";
    if (!c.stopsAt) {
      struct stat st {};
      EXPECT_NE(lstat(install.desktopLink().c_str(), &st), 0) << "the desktop link is left";
    }
  }
}

}  // namespace
