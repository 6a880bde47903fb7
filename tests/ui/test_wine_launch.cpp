// The start of a Windows build through Wine, with a stand-in for Wine that records how it was
// started and holds its prefix preparation until the test releases it.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <glib.h>
#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "log/LauncherLog.h"
#include "os/FileSystem.h"
#include "os/MessageBox.h"
#include "os/Process.h"
#include "support/Sandbox.h"
#include "support/TestContext.h"
#include "support/WindowsExecutable.h"
#include "ui/CWebCDlg.h"
#include "ui/CWebDlg.h"
#include "ui/UiThread.h"

namespace {

const char kPreparing[] = "正在准备运行环境......";
const char kNoWineStatus[] = "未找到 Wine,无法启动游戏";
const char kNoWine[] = "未找到 Wine,无法启动 Windows 版游戏,请安装 Wine 后重试。";

class RecordingViews : public IMainWindowView, public IContentView {
 public:
  void Hide() override { calls.push_back("hide"); }
  void Minimise() override {}
  void EndModal(int result) override { calls.push_back("end " + std::to_string(result)); }
  unsigned long NativeId() const override { return 77; }
  void SetControlText(int id, const std::string& text) override {
    if (id == kIdMessageText) labels.push_back(text);
  }
  void SetControlVisible(int, bool) override {}
  void SetProgressPos(int) override {}
  void Navigate(const std::string&) override {}
  std::vector<std::string> calls;
  std::vector<std::string> labels;
};

struct WineLaunch : ::testing::Test {
  void SetUp() override {
    box.MakeDrives(true);
    gameDir = box.InstallDir() + "/client/qvx";
    os::MakeDirectories(gameDir);
    Sandbox::WriteFile(gameDir + "/qvx.exe", SmallestWindowsExecutable());

    // The stand-in for Wine: "wineboot" waits for the release file; anything else is the game.
    runner = box.Root() + "/wine";
    Sandbox::WriteFile(runner,
                       "#!/bin/sh\n"
                       "cd '" +
                           box.Root() +
                           "' || exit 1\n"
                           "if [ \"$1\" = wineboot ]; then\n"
                           "  echo \"$WINEPREFIX\" >> wineboot.log\n"
                           "  while [ ! -e release ]; do sleep 0.02; done\n"
                           "  exit 0\n"
                           "fi\n"
                           "cd - >/dev/null\n"
                           "printf '%s\\0' \"$@\" > '" +
                           box.Root() +
                           "/argv.bin'\n"
                           "pwd -P > '" +
                           box.Root() +
                           "/cwd.txt'\n"
                           "echo \"$WINEPREFIX $WINEDEBUG\" > '" +
                           box.Root() + "/env.txt'\n");
    chmod(runner.c_str(), 0755);
    if (const char* w = std::getenv("VELLMORA_WINE")) savedWine = w;
    setenv("VELLMORA_WINE", runner.c_str(), 1);
    if (const char* d = std::getenv("DISPLAY")) savedDisplay = d;
    unsetenv("DISPLAY");

    savedArgs = os::SplitCommandLine(os::FullCommandLine());
    SetArguments({"/opt/Vell Launcher/vellmora", "--token=ab", "--winid=12"});
    context = std::make_unique<TestContext>(os::ArgumentString());
    context->SettleIn(box.InstallDir());
    dlg = std::make_unique<CWebDlg>(context->Get());
    ui::UiThreadInit();
    dlg->CreateContent();
    dlg->AttachView(&views);
    dlg->Content()->AttachView(&views);
    views.labels.clear();  // the initial texts
    os::SetMessageBoxPresenter([this](const std::string& text, const std::string&, os::MsgIcon, os::MsgButtons) {
      boxes.push_back(text);
      return os::MsgAnswer::Ok;
    });
  }
  void TearDown() override {
    os::SetMessageBoxPresenter(nullptr);
    ui::UiThreadShutdown();
    dlg.reset();
    SetArguments(savedArgs);
    if (!savedDisplay.empty()) setenv("DISPLAY", savedDisplay.c_str(), 1);
    if (savedWine.empty())
      unsetenv("VELLMORA_WINE");
    else
      setenv("VELLMORA_WINE", savedWine.c_str(), 1);
  }

  static void SetArguments(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    os::SetArguments(static_cast<int>(argv.size()), argv.data());
  }
  // Runs the UI loop until done() or 10 s have passed.
  static void RunUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done() && std::chrono::steady_clock::now() < deadline) {
      g_main_context_iteration(nullptr, FALSE);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  // The UI loop for a while, for what should not happen.
  static void RunFor(std::chrono::milliseconds time) {
    const auto until = std::chrono::steady_clock::now() + time;
    RunUntil([until] { return std::chrono::steady_clock::now() >= until; });
  }
  bool Ended() const { return std::find(views.calls.begin(), views.calls.end(), "end 2") != views.calls.end(); }
  bool Prepared() const { return os::PathExists(box.Root() + "/wineboot.log"); }
  bool GameStarted() const { return os::PathExists(box.Root() + "/env.txt"); }
  std::vector<std::string> GameArguments() const {
    std::vector<std::string> args;
    const std::string raw = Sandbox::ReadFile(box.Root() + "/argv.bin");
    size_t start = 0;
    for (size_t nul = raw.find('\0'); nul != std::string::npos; nul = raw.find('\0', start)) {
      args.push_back(raw.substr(start, nul - start));
      start = nul + 1;
    }
    return args;
  }
  std::string Log() const {
    LauncherLog::Instance().Close();
    return Sandbox::ReadFile(box.LogPath());
  }

  // Ready, then the login while Wine still prepares its prefix (or once it is done), then the
  // game through Wine and the launcher's end.
  void StartThroughWine(bool loginDuringPreparation) {
    if (!loginDuringPreparation) Sandbox::WriteFile(box.Root() + "/release", "");
    dlg->Content()->SetReady();
    RunUntil([&] { return Prepared(); });
    if (loginDuringPreparation) {
      dlg->Content()->OnLoginResult("true|p=1");
      RunFor(std::chrono::milliseconds(300));
      EXPECT_FALSE(GameStarted()) << "started before Wine was ready";
      EXPECT_TRUE(views.calls.empty());
      EXPECT_EQ(views.labels, std::vector<std::string>{kPreparing});
      Sandbox::WriteFile(box.Root() + "/release", "");
    } else {
      RunUntil([&] { return views.labels.size() == 2; });
      dlg->Content()->OnLoginResult("true|p=1");
    }
    RunUntil([&] { return Ended(); });

    EXPECT_EQ(Sandbox::ReadFile(box.Root() + "/wineboot.log"), box.Prefix() + "\n") << "prepared once, in the prefix";
    EXPECT_EQ(GameArguments(), (std::vector<std::string>{gameDir + "/qvx.exe", "--token=ab", "--winid=12",
                                                         "--parameters=p=1", "--plat_extra="}));
    char resolved[PATH_MAX];
    ASSERT_NE(realpath(gameDir.c_str(), resolved), nullptr);
    EXPECT_EQ(Sandbox::ReadFile(box.Root() + "/cwd.txt"), std::string(resolved) + "\n");
    EXPECT_EQ(Sandbox::ReadFile(box.Root() + "/env.txt"), box.Prefix() + " -all\n");
    EXPECT_EQ(views.calls, (std::vector<std::string>{"hide", "end 2"}));
    EXPECT_EQ(views.labels, (std::vector<std::string>{kPreparing, "更新已完成"}));
    const std::string log = Log();
    for (const std::string& line : {"[INFO][CWebCDlg::LaunchGame::435] " + gameDir + "/qvx.exe\n",
                                    "[INFO][CWebCDlg::LaunchGame::466] through wine:" + runner + "\n",
                                    std::string("[INFO][CWebCDlg::LaunchGame::472] LaunchGame Succ\n"),
                                    std::string("[INFO][CWebCDlg::LaunchGame::494] Exit Game\n")})
      EXPECT_NE(log.find(line), std::string::npos) << line << log;
  }

  Sandbox box;
  std::string gameDir, runner, savedWine, savedDisplay;
  std::vector<std::string> savedArgs;
  RecordingViews views;
  std::vector<std::string> boxes;
  std::unique_ptr<TestContext> context;
  std::unique_ptr<CWebDlg> dlg;
};

TEST_F(WineLaunch, LoginDuringThePreparationStartsTheGameWhenWineIsReady) { StartThroughWine(true); }

TEST_F(WineLaunch, LoginAfterThePreparationStartsTheGameAtOnce) { StartThroughWine(false); }

TEST_F(WineLaunch, WithoutWineTheLauncherStaysAndSaysSo) {
  setenv("VELLMORA_WINE", (box.Root() + "/no-such-wine").c_str(), 1);
  dlg->Content()->SetReady();
  dlg->Content()->OnLoginResult("true|p=1");
  RunUntil([&] { return !boxes.empty(); });
  RunFor(std::chrono::milliseconds(200));

  EXPECT_EQ(boxes, std::vector<std::string>{kNoWine});
  EXPECT_EQ(views.labels, std::vector<std::string>{kNoWineStatus});
  EXPECT_TRUE(views.calls.empty()) << "the launcher hid or closed";
  EXPECT_FALSE(Prepared());
  EXPECT_FALSE(GameStarted());
  EXPECT_TRUE(context->Telemetry().Messages().empty()) << "no game start is reported";
  const std::string log = Log();
  EXPECT_NE(log.find("[ERROR][CWebCDlg::SetReady::170] "), std::string::npos) << log;
  EXPECT_EQ(log.find("LaunchGame"), std::string::npos) << log;
}

// Closing the launcher while Wine prepares its prefix neither waits for the preparation nor lets
// its later end start the game.
TEST_F(WineLaunch, ClosingDuringThePreparationLeavesItBehind) {
  dlg->Content()->SetReady();
  dlg->Content()->OnLoginResult("true|p=1");
  RunUntil([&] { return Prepared(); });
  ui::UiThreadShutdown();
  const auto started = std::chrono::steady_clock::now();
  dlg.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
  Sandbox::WriteFile(box.Root() + "/release", "");
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_FALSE(GameStarted());
  EXPECT_EQ(Log().find("LaunchGame"), std::string::npos);
}

}  // namespace
