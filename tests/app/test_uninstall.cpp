// Uninstall in a temporary prefix and HOME. The runs that reach the delayed removal happen in a
// child process (the uninstaller must exit before its directories go), under a harness process
// that adopts the detached remover, so the test knows when the remover has finished.
#include <gtest/gtest.h>

#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <string>
#include <vector>

#include "app/CWebApp.h"
#include "log/LauncherLog.h"
#include "os/FileSystem.h"
#include "os/InstanceLock.h"
#include "os/MessageBox.h"
#include "os/Prefix.h"
#include "os/Process.h"
#include "os/Registry.h"
#include "os/ShellFolders.h"
#include "support/Sandbox.h"
#include "support/TestContext.h"

namespace {

const char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\qvx";
const char kClassKey[] = "qvx-harlu7";

struct Uninstall : ::testing::Test {
  // drives: whether drive C: exists; registryInstallPath: the recorded install path.
  void Prepare(bool driveC, const std::string& registryInstallPath = "") {
    box.MakeDrives(driveC);
    os::MakeDirectories(os::RegistryDir());
    ASSERT_EQ(os::RegCreateKey(os::RegRoot::CurrentUser, kUninstallKey), os::kRegSuccess);
    os::RegSetString(os::RegRoot::CurrentUser, kUninstallKey, "InstallPath", registryInstallPath);
    ASSERT_EQ(os::RegCreateKey(os::RegRoot::ClassesRoot, kClassKey), os::kRegSuccess);
    context = std::make_unique<TestContext>();
    app = std::make_unique<CWebApp>(context->Get());
    ASSERT_TRUE(app->InitApplication());
    LauncherLog::Instance().Open(context->Get().layout.logPath);  // the directory exists now

    const std::string data = app->DataDir();
    os::MakeDirectories(data + "/qvx/data/deep");
    Sandbox::WriteFile(data + "/qvx/qvx", "game");
    Sandbox::WriteFile(data + "/qvx/data/deep/.hidden", "x");
    Sandbox::WriteFile(data + "/game_client_version.txt", "1.0.0.1");
    Sandbox::WriteFile(app->InstallDir() + "/qvx.zip", "zip");
    // A link out of the tree: removed as a link, its target untouched.
    os::MakeDirectories(outside());
    Sandbox::WriteFile(outside() + "/precious.txt", "keep");
    symlink(outside().c_str(), (data + "/qvx/linked").c_str());

    startMenu = os::StartMenuDir() + "/Apps/harlu7";
    os::MakeDirectories(startMenu);
    Sandbox::WriteFile(startMenu + "/Vellmora.desktop", "[Desktop Entry]\n");
    os::MakeDirectories(os::DesktopDir());
    desktopLink = os::DesktopDir() + "/Vellmora" + os::LinkExtension();
    Sandbox::WriteFile(desktopLink, "[Desktop Entry]\n");

    os::SetMessageBoxPresenter(
        [this](const std::string& text, const std::string& caption, os::MsgIcon, os::MsgButtons buttons) {
          boxes.push_back(text + "|" + caption);
          return buttons == os::MsgButtons::YesNo ? answer : os::MsgAnswer::Ok;
        });
  }
  void TearDown() override { os::SetMessageBoxPresenter(nullptr); }

  std::string outside() const { return box.Root() + "/outside"; }

  // Runs UnInstall in a child that then exits; returns once the child and everything it left
  // running (the remover) have ended. Before exiting, the child records the log, its messages
  // and whether the installation directory was still there.
  void UninstallInChildProcess() {
    const pid_t harness = fork();
    ASSERT_GE(harness, 0);
    if (harness == 0) {
      alarm(30);
      prctl(PR_SET_CHILD_SUBREAPER, 1);
      const pid_t uninstaller = fork();
      if (uninstaller == 0) {
        app->UnInstall();
        Sandbox::WriteFile(box.Root() + "/log-at-exit.txt", Sandbox::ReadFile(LogPath()));
        Sandbox::WriteFile(box.Root() + "/installdir-at-exit.txt", os::PathExists(app->InstallDir()) ? "1" : "0");
        std::string shown;
        for (const std::string& b : boxes) shown += b + "\n";
        Sandbox::WriteFile(box.Root() + "/boxes-at-exit.txt", shown);
        _exit(0);
      }
      while (wait(nullptr) > 0 || errno == EINTR) {
      }
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(harness, &status, 0), harness);
    ASSERT_TRUE(WIFEXITED(status)) << "the remover did not finish";
  }
  static std::string LogPath() { return InstallLayout::LogPathFor(os::ApplicationName()); }
  static std::string Log() {
    LauncherLog::Instance().Close();
    return Sandbox::ReadFile(LogPath());
  }
  // Uninstalling while the game process runs is refused with the message, and removes nothing;
  // the game is ended afterwards.
  void ExpectRefusedWhileRunning(pid_t game) {
    EXPECT_TRUE(app->IsGameRunning());
    app->UnInstall();
    kill(game, SIGKILL);
    os::WaitProcess(game);
    EXPECT_FALSE(app->IsGameRunning());
    EXPECT_EQ(boxes, (std::vector<std::string>{"游戏正在运行,请关闭游戏后重试|qvx"}));
    ExpectNothingRemoved();
  }

  void ExpectNothingRemoved() {
    EXPECT_TRUE(os::PathExists(app->DataDir() + "/qvx/qvx"));
    EXPECT_TRUE(os::PathExists(startMenu));
    EXPECT_TRUE(os::PathExists(desktopLink));
    EXPECT_EQ(os::RegOpenKey(os::RegRoot::CurrentUser, kUninstallKey), os::kRegSuccess);
    EXPECT_EQ(os::RegOpenKey(os::RegRoot::ClassesRoot, kClassKey), os::kRegSuccess);
  }

  Sandbox box;
  std::unique_ptr<TestContext> context;
  std::unique_ptr<CWebApp> app;
  std::string startMenu, desktopLink;
  std::vector<std::string> boxes;
  os::MsgAnswer answer = os::MsgAnswer::Yes;
};

TEST_F(Uninstall, RemovesEverythingThenTheInstallDirectoryAfterExit) {
  Prepare(true);
  const std::string installDir = app->InstallDir();
  ASSERT_EQ(installDir, box.InstallDir());
  UninstallInChildProcess();
  EXPECT_EQ(Sandbox::ReadFile(box.Root() + "/boxes-at-exit.txt"), "确定要卸载吗?|" + os::ApplicationName() + "\n");

  // While the uninstaller ran, its directory (and the log in it) was still there, and the log
  // ended with the success line.
  EXPECT_EQ(Sandbox::ReadFile(box.Root() + "/installdir-at-exit.txt"), "1");
  const std::string log = Sandbox::ReadFile(box.Root() + "/log-at-exit.txt");
  const size_t begin = log.find("[INFO][CWebApp::UnInstall::269] Begin uninstall\n");
  const size_t data = log.find("[INFO][CWebApp::UnInstall::272] " + installDir + "/client\n");
  const size_t menu = log.find("[INFO][CWebApp::UnInstall::289] " + startMenu + "\n");
  const size_t link = log.find("[INFO][CWebApp::UnInstall::305] " + desktopLink + "\n");
  const size_t reg = log.find("[INFO][CGameRemoteConfig::RemoveRegisties::72] lret:0\n");
  const std::string last = "[ERROR][CWebApp::UnInstall::317] unistall succ\n";
  ASSERT_NE(begin, std::string::npos) << log;
  EXPECT_LT(begin, data);
  EXPECT_LT(data, menu);
  EXPECT_LT(menu, link);
  EXPECT_LT(link, reg);
  ASSERT_GE(log.size(), last.size()) << log;
  EXPECT_EQ(log.compare(log.size() - last.size(), last.size(), last), 0) << log;

  // After the process ended: all gone but what lies outside and the prefix's own structure.
  EXPECT_FALSE(os::PathExists(installDir));
  EXPECT_FALSE(os::PathExists(startMenu));
  EXPECT_TRUE(os::PathExists(os::StartMenuDir() + "/Apps"));
  EXPECT_FALSE(os::PathExists(desktopLink));
  EXPECT_EQ(os::RegOpenKey(os::RegRoot::CurrentUser, kUninstallKey), os::kRegFileNotFound);
  EXPECT_EQ(os::RegOpenKey(os::RegRoot::ClassesRoot, kClassKey), os::kRegFileNotFound);
  EXPECT_EQ(Sandbox::ReadFile(outside() + "/precious.txt"), "keep");
  EXPECT_TRUE(os::IsDirectory(box.DriveC()));
  EXPECT_TRUE(os::IsDirectory(os::RegistryDir()));
}

TEST_F(Uninstall, RefusesWhileAnotherLauncherRuns) {
  Prepare(true);
  os::InstanceLock other;
  ASSERT_EQ(other.Acquire("qvx"), os::InstanceLock::Result::Acquired);
  app->UnInstall();
  EXPECT_EQ(boxes, (std::vector<std::string>{"游戏正在运行,请关闭游戏后重试|qvx"}));
  ExpectNothingRemoved();
}

TEST_F(Uninstall, RefusesWhileTheGameRuns) {
  Prepare(true);
  // The game is a process whose executable is the game executable itself.
  const std::string game = app->DataDir() + "/qvx/qvx";
  ASSERT_EQ(os::CopyFileOver("/bin/sleep", game), 0);
  const pid_t pid = os::SpawnProcess(game, "qvx 30", app->DataDir() + "/qvx");
  ASSERT_GT(pid, 0);
  ExpectRefusedWhileRunning(pid);
}

TEST_F(Uninstall, RefusesWhileTheWindowsBuildRunsUnderWine) {
  Prepare(true);
  // Wine shows the Windows program it runs as the process's argv[0].
  const std::string game = app->DataDir() + "/qvx/qvx.exe";
  Sandbox::WriteFile(game, "MZ");
  const pid_t pid = os::SpawnProgram("/bin/sleep", {game, "30"}, "");
  ASSERT_GT(pid, 0);
  const std::string cmdline = "/proc/" + std::to_string(pid) + "/cmdline";
  for (int i = 0; i < 200 && Sandbox::ReadFile(cmdline).rfind(game, 0) != 0; ++i) usleep(10000);
  ExpectRefusedWhileRunning(pid);
}

TEST_F(Uninstall, AnythingButYesKeepsEverythingAndLogsNothing) {
  Prepare(true);
  answer = os::MsgAnswer::No;
  app->UnInstall();
  EXPECT_EQ(boxes, (std::vector<std::string>{"确定要卸载吗?|" + os::ApplicationName()}));
  // No front end and no display: the question is answered No.
  os::SetMessageBoxPresenter(nullptr);
  const char* display = getenv("DISPLAY");
  const std::string keep = display ? display : "";
  unsetenv("DISPLAY");
  app->UnInstall();
  if (display) setenv("DISPLAY", keep.c_str(), 1);
  ExpectNothingRemoved();
  EXPECT_EQ(Log().find("Begin uninstall"), std::string::npos);
}

TEST_F(Uninstall, MissingPiecesAreSkippedSilently) {
  Prepare(true);
  ASSERT_TRUE(app->DeleteNotNullDir(app->DataDir()));
  ASSERT_TRUE(app->DeleteNotNullDir(startMenu));
  os::RemoveFile(desktopLink);
  UninstallInChildProcess();
  EXPECT_EQ(Sandbox::ReadFile(box.Root() + "/boxes-at-exit.txt"), "确定要卸载吗?|" + os::ApplicationName() + "\n");
  const std::string log = Sandbox::ReadFile(box.Root() + "/log-at-exit.txt");
  EXPECT_EQ(log.find("unistall error"), std::string::npos) << log;
  EXPECT_NE(log.find("unistall succ"), std::string::npos) << log;
  EXPECT_FALSE(os::PathExists(box.InstallDir()));
}

// An install path outside the prefix (a stale or tampered registry value) is never removed.
TEST_F(Uninstall, InstallDirectoryOutsideThePrefixIsLeftAlone) {
  const std::string foreign = box.Root() + "/foreign/qvx-harlu7";
  os::MakeDirectories(box.Root() + "/foreign");  // start-up creates one level only
  Prepare(false, foreign);
  ASSERT_EQ(app->InstallDir(), foreign);
  Sandbox::WriteFile(foreign + "/keep.txt", "keep");

  // With its client directory there, the uninstall stops before removing anything.
  UninstallInChildProcess();
  EXPECT_EQ(Sandbox::ReadFile(box.Root() + "/boxes-at-exit.txt"),
            "确定要卸载吗?|" + os::ApplicationName() + "\n卸载失败,可能是因为游戏正在运行或文件夹被占用。|qvx\n");
  EXPECT_TRUE(os::PathExists(foreign + "/client/qvx/qvx"));
  EXPECT_EQ(os::RegOpenKey(os::RegRoot::CurrentUser, kUninstallKey), os::kRegSuccess);

  // Without it, the uninstall completes but the remover refuses the directory.
  ASSERT_TRUE(app->DeleteNotNullDir(foreign + "/client"));
  UninstallInChildProcess();
  EXPECT_EQ(os::RegOpenKey(os::RegRoot::CurrentUser, kUninstallKey), os::kRegFileNotFound);
  EXPECT_EQ(Sandbox::ReadFile(foreign + "/keep.txt"), "keep");
}

TEST(DeleteNotNullDir, RemovesTheTreeButNeverFollowsLinks) {
  Sandbox box;
  box.MakeDrives(true);
  os::MakeDirectories(box.InstallDir());
  TestContext context;
  context.SettleIn(box.InstallDir());
  CWebApp app(context.Get());
  const std::string tree = box.Root() + "/tree";
  const std::string target = box.Root() + "/target";
  os::MakeDirectories(tree + "/a/b/c");
  os::MakeDirectories(target);
  Sandbox::WriteFile(tree + "/a/b/c/f", "x");
  Sandbox::WriteFile(tree + "/.dot", "x");
  Sandbox::WriteFile(target + "/t", "keep");
  symlink(target.c_str(), (tree + "/a/dirlink").c_str());
  symlink((target + "/t").c_str(), (tree + "/filelink").c_str());
  symlink("/nonexistent", (tree + "/dangling").c_str());

  EXPECT_TRUE(app.DeleteNotNullDir(tree));
  EXPECT_FALSE(os::PathExists(tree));
  EXPECT_EQ(Sandbox::ReadFile(target + "/t"), "keep");
  EXPECT_FALSE(app.DeleteNotNullDir(box.Root() + "/missing"));
  LauncherLog::Instance().Close();
  const std::string log = Sandbox::ReadFile(context.Get().layout.logPath);
  EXPECT_NE(log.find("[INFO][CWebApp::DeleteNotNullDir::333] " + tree + "\n"), std::string::npos) << log;
  EXPECT_NE(log.find("[INFO][CWebApp::DeleteNotNullDir::333] " + tree + "/a/b/c\n"), std::string::npos) << log;
}

}  // namespace
