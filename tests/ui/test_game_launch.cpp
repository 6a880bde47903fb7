// The game's launch on its own: a recording window stands in for the launcher window, with no UI
// thread at all, so every call the launch makes of the window is seen with the thread it came from.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "os/FileSystem.h"
#include "os/Process.h"
#include "support/RecordingMainView.h"
#include "support/Sandbox.h"
#include "support/TestContext.h"
#include "support/TestPlatform.h"
#include "ui/GameLaunch.h"
#include "ui/ILaunchWindow.h"

namespace {

class RecordingLaunchWindow : public ILaunchWindow {
 public:
  void ShowLaunchStatus(const std::string& text) override { Note("status " + text); }
  void ShowLaunchWarning(const std::string& text) override { Note("warning " + text); }
  void PostLaunchWarning(const std::string& text) override { Note("posted warning " + text); }
  void HideForGame() override { Note("hide"); }
  unsigned long NativeWindowId() override {
    Note("native id");
    return 77;
  }
  void CloseAfterGame() override { Note("close"); }

  std::vector<std::string> Calls() const {
    std::lock_guard<std::mutex> hold(lock_);
    return calls_;
  }
  // True once call was made, within 10 s.
  bool WaitFor(const std::string& call) const {
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, std::chrono::seconds(10),
                             [&] { return std::find(calls_.begin(), calls_.end(), call) != calls_.end(); });
  }

 private:
  void Note(const std::string& call) {
    {
      std::lock_guard<std::mutex> hold(lock_);
      calls_.push_back(call);
    }
    changed_.notify_all();
  }
  mutable std::mutex lock_;
  mutable std::condition_variable changed_;
  std::vector<std::string> calls_;
};

int Starts(const RecordingTelemetry& telemetry) {
  const std::vector<int> events = telemetry.Events();
  return static_cast<int>(std::count(events.begin(), events.end(), GameStart));
}

struct GameLaunchTest : ::testing::Test {
  void SetUp() override {
    box.MakeDrives(true);
    gameDir = box.InstallDir() + "/client/qvx";
    os::MakeDirectories(gameDir);
    savedArgs = os::SplitCommandLine(os::FullCommandLine());
    SetArguments({"/opt/vellmora", "--token=ab"});
    if (const char* d = std::getenv("DISPLAY")) savedDisplay = d;
    SetVariable("DISPLAY", nullptr);
  }
  void TearDown() override {
    SetArguments(savedArgs);
    if (!savedDisplay.empty()) SetVariable("DISPLAY", savedDisplay.c_str());
  }
  // A game that appends its arguments, one line per start, and ends at once.
  void InstallFakeGame() {
    const std::string script = gameDir + "/qvx";
    Sandbox::WriteFile(script, "#!/bin/sh\necho \"$*\" >> \"$(dirname \"$0\")/starts.txt\"\n");
    chmod(script.c_str(), 0755);
  }
  std::string GameStarts() const {
    return os::PathExists(gameDir + "/starts.txt") ? Sandbox::ReadFile(gameDir + "/starts.txt") : std::string();
  }

  Sandbox box;
  std::string gameDir, savedDisplay;
  std::vector<std::string> savedArgs;
};

// Whichever of Ready (the worker's thread) and the login (the page's) comes second starts the game
// on its own thread, once; the window hides before that thread returns, and the game's end tells the
// platform (the window's id as the sender) and closes the window.
TEST_F(GameLaunchTest, EitherOrderStartsTheGameOnceAndItsEndClosesTheWindow) {
  InstallFakeGame();
  for (const bool loginFirst : {true, false}) {
    SCOPED_TRACE(loginFirst ? "login first" : "ready first");
    os::RemoveFile(gameDir + "/starts.txt");
    TestContext run(os::ArgumentString());
    run.SettleIn(box.InstallDir());
    RecordingLaunchWindow window;
    GameLaunch launch(run.Get(), window);

    if (loginFirst) {
      launch.OnLoginResult("true|p=1");
      EXPECT_TRUE(window.Calls().empty());
      EXPECT_EQ(Starts(run.Telemetry()), 0) << "started before Ready";
      std::thread worker([&] { launch.SetReady(); });
      worker.join();
    } else {
      std::thread worker([&] { launch.SetReady(); });
      worker.join();
      EXPECT_EQ(Starts(run.Telemetry()), 0) << "started before the login";
      launch.OnLoginResult("true|p=1");
    }
    EXPECT_EQ(window.Calls().front(), "hide") << "the starting thread returned before the window hid";

    ASSERT_TRUE(window.WaitFor("close"));
    EXPECT_EQ(window.Calls(), (std::vector<std::string>{"hide", "native id", "close"}));
    launch.OnLoginResult("true|p=2");
    EXPECT_EQ(GameStarts(), "--token=ab --parameters=p=1 --plat_extra=\n");
    EXPECT_EQ(Starts(run.Telemetry()), 1);
    EXPECT_EQ(launch.LoginParameters(), "p=1");
  }
}

// A start that fails asks nothing of the window: the launcher stays shown, ready and logged in.
TEST_F(GameLaunchTest, FailedStartLeavesTheWindowAlone) {
  TestContext run(os::ArgumentString());
  run.SettleIn(box.InstallDir());
  RecordingLaunchWindow window;
  GameLaunch launch(run.Get(), window);
  launch.SetReady();
  launch.OnLoginResult("true|p=1");
  EXPECT_TRUE(window.Calls().empty());
  EXPECT_TRUE(launch.IsReady());
  EXPECT_TRUE(launch.IsLoggedIn());
  const std::vector<std::string> messages = run.Telemetry().Messages();
  EXPECT_EQ(messages, (std::vector<std::string>{"game start", "game start failed"}));
}

}  // namespace
