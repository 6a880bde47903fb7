// The UI thread's loop as the portable code sees it, driven here by iterating GLib's default
// context as the GTK main loop does.
#include <gtest/gtest.h>

#include <glib.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "os/MainLoop.h"

namespace {

// Iterates the default context for about ms milliseconds.
void Iterate(int ms) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < until) {
    if (!g_main_context_iteration(nullptr, FALSE)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// Posts from this and another thread run in order, and only when the loop iterates.
TEST(MainLoop, PostedFunctionsRunInOrderOnlyWhenTheLoopIterates) {
  std::vector<std::string> ran;
  os::PostToMainLoop([&] { ran.push_back("first"); });
  std::thread other([&] { os::PostToMainLoop([&] { ran.push_back("second"); }); });
  other.join();
  EXPECT_TRUE(ran.empty()) << "ran inline";
  Iterate(50);
  EXPECT_EQ(ran, (std::vector<std::string>{"first", "second"}));
}

// A timer ends when its tick says so, when it is stopped (also from its own tick) and when it goes.
TEST(MainLoop, TimerTicksUntilItEnds) {
  int byAnswer = 0, byStop = 0, byDestruction = 0;
  os::MainLoopTimer answered(2, [&] { return ++byAnswer < 3; });
  os::MainLoopTimer selfStopped;
  selfStopped = os::MainLoopTimer(2, [&] {
    ++byStop;
    selfStopped.Stop();
    return true;
  });
  {
    os::MainLoopTimer destroyed(2, [&] { return ++byDestruction < 1000; });
    Iterate(60);
    EXPECT_GT(byDestruction, 1);
  }
  const int beforeDestruction = byDestruction;
  Iterate(60);

  EXPECT_EQ(byAnswer, 3);
  EXPECT_FALSE(answered.Active());
  EXPECT_EQ(byStop, 1);
  EXPECT_FALSE(selfStopped.Active());
  EXPECT_EQ(byDestruction, beforeDestruction);

  answered.Stop();  // an ended timer stops harmlessly
  os::MainLoopTimer running(2, [] { return true; });
  EXPECT_TRUE(running.Active());
}

}  // namespace
