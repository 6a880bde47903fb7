// The game launch with a fake game that records its arguments and working directory.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <glib.h>
#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "log/LauncherLog.h"
#include "os/FileSystem.h"
#include "os/Process.h"
#include "support/RecordingMainView.h"
#include "support/Sandbox.h"
#include "support/TestContext.h"
#include "ui/CWebCDlg.h"
#include "ui/CWebDlg.h"
#include "ui/UiThread.h"

namespace {

struct Launch : ::testing::Test {
  void SetUp() override {
    box.MakeDrives(true);
    os::MakeDirectories(box.InstallDir());
    dataDir = box.InstallDir() + "/client";
    gameDir = dataDir + "/qvx";
    os::MakeDirectories(gameDir);

    savedArgs = os::SplitCommandLine(os::FullCommandLine());
    SetArguments({"/opt/Vell Launcher/vellmora", "--token=ab", "--winid=12"});
    context = std::make_unique<TestContext>(os::ArgumentString());
    context->SettleIn(box.InstallDir());
    dlg = std::make_unique<CWebDlg>(context->Get());
    if (const char* d = std::getenv("DISPLAY")) savedDisplay = d;
    unsetenv("DISPLAY");

    char cwd[PATH_MAX];
    savedCwd = getcwd(cwd, sizeof cwd) ? cwd : "/";
    workDir = box.Root() + "/cwd";
    os::MakeDirectories(workDir);
    ASSERT_EQ(chdir(workDir.c_str()), 0);

    ui::UiThreadInit();
    dlg->CreateContent();
    dlg->AttachView(&view);
  }
  void TearDown() override {
    ui::UiThreadShutdown();
    dlg.reset();
    ASSERT_EQ(chdir(savedCwd.c_str()), 0);
    SetArguments(savedArgs);
    if (!savedDisplay.empty()) setenv("DISPLAY", savedDisplay.c_str(), 1);
  }

  // The fake game writes its arguments (NUL-terminated each) and its working directory.
  void InstallFakeGame() {
    const std::string script = gameDir + "/qvx";
    Sandbox::WriteFile(script,
                       "#!/bin/sh\n"
                       "printf '%s\\0' \"$@\" > \"$(dirname \"$0\")/argv.bin\"\n"
                       "pwd -P > \"$(dirname \"$0\")/cwd.txt\"\n");
    chmod(script.c_str(), 0755);
  }
  std::vector<std::string> GameArguments() const {
    std::vector<std::string> args;
    const std::string raw = Sandbox::ReadFile(gameDir + "/argv.bin");
    size_t start = 0;
    for (size_t nul = raw.find('\0'); nul != std::string::npos; nul = raw.find('\0', start)) {
      args.push_back(raw.substr(start, nul - start));
      start = nul + 1;
    }
    return args;
  }
  // Ready first, then the page's login: the login starts the game from this (the UI) thread.
  void ReadyThenLogin(const std::string& parameters) {
    dlg->Content()->SetReady();
    dlg->Content()->OnLoginResult("true|" + parameters);
  }
  // Runs the UI loop until the window's run has ended (the game exited and the launcher closed),
  // at most 10 s.
  static void RunUntilEnded(const RecordingMainView& v) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::find(v.calls.begin(), v.calls.end(), "end 2") == v.calls.end() &&
           std::chrono::steady_clock::now() < deadline) {
      g_main_context_iteration(nullptr, FALSE);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  std::string Log() const {
    LauncherLog::Instance().Close();
    return Sandbox::ReadFile(box.LogPath());
  }

  Sandbox box;
  std::string dataDir, gameDir, workDir, savedCwd, savedDisplay;
  std::vector<std::string> savedArgs;
  RecordingMainView view;
  std::unique_ptr<TestContext> context;
  std::unique_ptr<CWebDlg> dlg;
};

TEST_F(Launch, GameGetsTheLauncherArgumentsAndTheLogin) {
  InstallFakeGame();
  const auto started = std::chrono::steady_clock::now();
  ReadyThenLogin("p=1");
  RunUntilEnded(view);
  const auto elapsed = std::chrono::steady_clock::now() - started;

  EXPECT_EQ(GameArguments(),
            (std::vector<std::string>{"--token=ab", "--winid=12", "--parameters=p=1", "--plat_extra="}));
  char resolved[PATH_MAX];
  ASSERT_NE(realpath(gameDir.c_str(), resolved), nullptr);
  EXPECT_EQ(Sandbox::ReadFile(gameDir + "/cwd.txt"), std::string(resolved) + "\n");
  EXPECT_EQ(view.calls, (std::vector<std::string>{"hide", "end 2"}));
  EXPECT_LT(elapsed, std::chrono::milliseconds(900)) << "no first-install wait";

  // Every step, in order.
  const std::string log = Log();
  const std::string lines[] = {
      "[INFO][CWebCDlg::LaunchGame::435] " + gameDir + "/qvx\n",
      "[INFO][CWebCDlg::LaunchGame::439] " + gameDir + "\n",
      "[INFO][CWebCDlg::LaunchGame::462] \"/opt/Vell Launcher/vellmora\" --token=ab --winid=12 "
      "--parameters=p=1 --plat_extra=\n",
      "[INFO][CWebCDlg::LaunchGame::463] LaunchGame\n",
      "[INFO][CWebCDlg::LaunchGame::472] LaunchGame Succ\n",
      "[INFO][CWebCDlg::LaunchGame::494] Exit Game\n",
      "[INFO][CWindowMessageHandler::SendShowWindowMessage::45] SendShowWindowMessage lret:0\n",
      "[INFO][CWebDlg::Cancel::62] Laucher Stop\n",
  };
  size_t at = 0;
  for (const std::string& line : lines) {
    const size_t found = log.find(line, at);
    ASSERT_NE(found, std::string::npos) << line << "\n" << log;
    at = found + line.size();
  }
}

TEST_F(Launch, LuaPathAndCustomParametersAreAppended) {
  struct Case {
    const char* luaFile;
    const char* config;
    std::vector<std::string> tail;
  } cases[] = {
      {"/games/lua\nsecond line\n", "", {"--plat_extra=", "--luapath=/games/lua\n"}},
      {"C:\\lua\r\n", "CustomParameters=k=v\n", {"--plat_extra=k=v", "--luapath=C:\\lua\n"}},
      {nullptr, "CustomParameters=k=v\n", {"--parameters=p=1", "--plat_extra=k=v"}},
  };
  for (const Case& c : cases) {
    TestContext run(os::ArgumentString());
    run.SettleIn(box.InstallDir());
    run.Get().remoteConfig.Parse(c.config);
    RecordingMainView windowView;
    CWebDlg window(run.Get());
    window.CreateContent();
    window.AttachView(&windowView);
    os::RemoveFile(workDir + "/luapath.txt");
    if (c.luaFile) Sandbox::WriteFile(workDir + "/luapath.txt", c.luaFile);
    InstallFakeGame();
    os::RemoveFile(gameDir + "/argv.bin");
    window.Content()->SetReady();
    window.Content()->OnLoginResult("true|p=1");
    RunUntilEnded(windowView);
    const std::vector<std::string> args = GameArguments();
    ASSERT_GE(args.size(), c.tail.size());
    EXPECT_EQ(std::vector<std::string>(args.end() - c.tail.size(), args.end()), c.tail)
        << (c.luaFile ? c.luaFile : "(no luapath.txt)");
  }
}

TEST_F(Launch, MissingGameLeavesTheLauncherVisibleAndLoggedIn) {
  ReadyThenLogin("p=1");
  EXPECT_TRUE(view.calls.empty());
  EXPECT_TRUE(dlg->Content()->IsReady());
  EXPECT_TRUE(dlg->Content()->IsLoggedIn());
  const std::string log = Log();
  EXPECT_NE(log.find("[INFO][CWebCDlg::LaunchGame::501] LaunchGame Faild\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("Exit Game"), std::string::npos);
}

TEST_F(Launch, OverlongCommandLineIsRefusedNotCut) {
  InstallFakeGame();
  ReadyThenLogin(std::string(2100, 'x'));
  EXPECT_FALSE(os::PathExists(gameDir + "/argv.bin"));
  EXPECT_TRUE(view.calls.empty());
  const std::string log = Log();
  EXPECT_NE(log.find("[ERROR][CWebCDlg::LaunchGame::464] command line too long:"), std::string::npos) << log;
  EXPECT_NE(log.find("LaunchGame Faild\n"), std::string::npos);
}

TEST_F(Launch, FirstInstallWaitsASecondBeforeWaitingForTheGame) {
  InstallFakeGame();
  context->Get().updateState.SetFirstInstall(1);
  const auto started = std::chrono::steady_clock::now();
  ReadyThenLogin("p=1");
  RunUntilEnded(view);
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1000));
  EXPECT_EQ(view.calls, (std::vector<std::string>{"hide", "end 2"}));
}

// The game plays while the launcher's main loop keeps running: the login that arrives last starts
// the game from the UI thread, which returns at once; the end of the game closes the launcher.
TEST_F(Launch, TheUiThreadKeepsRunningWhileTheGamePlays) {
  const std::string quit = gameDir + "/quit";
  const std::string script = gameDir + "/qvx";
  Sandbox::WriteFile(script, "#!/bin/sh\nwhile [ ! -e '" + quit + "' ]; do sleep 0.02; done\n");
  chmod(script.c_str(), 0755);

  ReadyThenLogin("p=1");
  EXPECT_EQ(view.calls, (std::vector<std::string>{"hide"}));
  bool ran = false;
  ui::PostToUiThread([&ran] { ran = true; });
  for (int i = 0; i < 100 && !ran; ++i) g_main_context_iteration(nullptr, FALSE);
  EXPECT_TRUE(ran) << "the main loop is blocked while the game plays";
  EXPECT_EQ(view.calls, (std::vector<std::string>{"hide"})) << "the launcher closed while the game plays";

  Sandbox::WriteFile(quit, "");
  RunUntilEnded(view);
  EXPECT_EQ(view.calls, (std::vector<std::string>{"hide", "end 2"}));
  EXPECT_NE(Log().find("[INFO][CWebCDlg::LaunchGame::494] Exit Game\n"), std::string::npos);
}

// A launcher that closes while the game still plays (a termination request) does not wait for the
// game, and the game's later end touches nothing of the closed window.
TEST_F(Launch, ClosingWhileTheGamePlaysNeitherWaitsNorTouchesTheWindowLater) {
  const std::string quit = gameDir + "/quit";
  const std::string script = gameDir + "/qvx";
  Sandbox::WriteFile(script, "#!/bin/sh\nwhile [ ! -e '" + quit + "' ]; do sleep 0.02; done\n");
  chmod(script.c_str(), 0755);

  ReadyThenLogin("p=1");
  dlg->OnSystemClose();
  ui::UiThreadShutdown();
  const auto started = std::chrono::steady_clock::now();
  dlg.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
  Sandbox::WriteFile(quit, "");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(view.calls, (std::vector<std::string>{"hide", "end 2"}));
  EXPECT_EQ(Log().find("Exit Game"), std::string::npos);
}

}  // namespace
