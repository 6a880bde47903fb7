// The Windows loops against the real message queue: the UI thread's queue and timers, the owner
// loops' hidden event window, wakes from other threads, and the message boxes' types.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "os/MainLoop.h"
#include "os/OwnerLoop.h"
#include "os/SystemMessageBox.h"

namespace {

// Dispatches this thread's messages until done() or the time is up; true when done.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 3000) {
  const DWORD start = GetTickCount();
  MSG msg;
  while (!done()) {
    if (GetTickCount() - start > static_cast<DWORD>(timeoutMs)) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }
  return true;
}

TEST(MainLoopWin32, FunctionsFromOtherThreadsRunOnTheUiThreadInOrderNeverInline) {
  os::AttachMainLoop();
  const DWORD ui = GetCurrentThreadId();
  std::vector<int> order;
  std::atomic<int> wrongThread{0};
  std::thread worker([&] {
    for (int i = 0; i < 50; ++i)
      os::PostToMainLoop([&, i] {
        if (GetCurrentThreadId() != ui) ++wrongThread;
        order.push_back(i);
      });
  });
  worker.join();
  bool ranInline = false;
  os::PostToMainLoop([&] { ranInline = true; });
  EXPECT_FALSE(ranInline);
  ASSERT_TRUE(PumpUntil([&] { return ranInline; }));
  ASSERT_EQ(order.size(), 50u);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(order[i], i);
  EXPECT_EQ(wrongThread.load(), 0);
}

TEST(MainLoopWin32, TimerTicksUntilItReturnsFalseOrIsStopped) {
  os::AttachMainLoop();
  int ticks = 0;
  os::MainLoopTimer ending(5, [&] { return ++ticks < 3; });
  EXPECT_TRUE(ending.Active());
  ASSERT_TRUE(PumpUntil([&] { return !ending.Active(); }));
  EXPECT_EQ(ticks, 3);

  // Stopped from its own tick: the tick's state stays alive to the end of the tick.
  int selfTicks = 0;
  os::MainLoopTimer self;
  self = os::MainLoopTimer(5, [&] {
    ++selfTicks;
    self.Stop();
    return true;
  });
  ASSERT_TRUE(PumpUntil([&] { return selfTicks > 0; }));
  PumpUntil([] { return false; }, 60);
  EXPECT_EQ(selfTicks, 1);
  EXPECT_FALSE(self.Active());
}

TEST(OwnerLoopWin32, WakeFromAWorkerRunsReadyWatchesOnTheOwnerThread) {
  os::OwnerLoop loop;
  // The loop's window is the hidden message-only one other tools look for by name.
  EXPECT_NE(FindWindowExW(HWND_MESSAGE, nullptr, L"brelic_http_event_wnd", L"brelic_http_event_wnd"), nullptr);
  std::atomic<int> pending{0};
  int runs = 0;
  DWORD runThread = 0;
  os::LoopSource watch = loop.Watch(
      "test", [&] { return pending.load() > 0; },
      [&] {
        --pending;
        ++runs;
        runThread = GetCurrentThreadId();
      });
  std::thread worker([&] {
    pending += 3;
    loop.Wake();
  });
  worker.join();
  // Still ready after a run: it runs again without a further wake.
  ASSERT_TRUE(PumpUntil([&] { return runs == 3; }));
  EXPECT_EQ(runThread, GetCurrentThreadId());

  watch.Remove();
  pending = 1;
  loop.Wake();
  PumpUntil([] { return false; }, 60);
  EXPECT_EQ(runs, 3);  // removed: asked no more
}

TEST(OwnerLoopWin32, TimersEndThemselvesAndRemovalIsHarmlessAfterwards) {
  os::OwnerLoop loop;
  int ticks = 0;
  os::LoopSource timer = loop.Timer(5, [&] { return ++ticks < 2; });
  ASSERT_TRUE(PumpUntil([&] { return ticks == 2; }));
  PumpUntil([] { return false; }, 60);
  EXPECT_EQ(ticks, 2);
  timer.Remove();
  EXPECT_FALSE(timer.Attached());
}

TEST(OwnerLoopWin32, OnlyTheOwnerMayActWhileItsThreadLives) {
  std::unique_ptr<os::OwnerLoop> loop;
  std::atomic<bool> made{false}, finish{false};
  std::thread owner([&] {
    loop = std::make_unique<os::OwnerLoop>();
    made = true;
    while (!finish) PumpUntil([] { return false; }, 10);
  });
  while (!made) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_FALSE(loop->Acquire());  // the owner runs it: hand over instead
  finish = true;
  owner.join();                  // the thread's windows go with it
  ASSERT_TRUE(loop->Acquire());  // nobody runs it now
  loop->Release();

  // Two loops of one thread are one loop; another thread's is another.
  os::OwnerLoop a, b;
  EXPECT_EQ(a.Handle(), b.Handle());
  EXPECT_NE(a.Handle(), loop->Handle());
  loop.reset();  // from a thread that is not its owner's
}

TEST(MessageBoxWin32, TypesAndAnswers) {
  struct Case {
    os::MsgIcon icon;
    os::MsgButtons buttons;
    unsigned type;
  } cases[] = {
      {os::MsgIcon::Information, os::MsgButtons::Ok, MB_OK | MB_ICONINFORMATION},
      {os::MsgIcon::Warning, os::MsgButtons::Ok, MB_OK | MB_ICONWARNING},
      {os::MsgIcon::Error, os::MsgButtons::Ok, MB_OK | MB_ICONERROR},
      {os::MsgIcon::Question, os::MsgButtons::YesNo, MB_YESNO | MB_ICONQUESTION},
  };
  for (const Case& c : cases) EXPECT_EQ(os::SystemMessageBoxType(c.icon, c.buttons), c.type);
  EXPECT_EQ(os::SystemMessageBoxAnswer(IDYES, os::MsgButtons::YesNo), os::MsgAnswer::Yes);
  EXPECT_EQ(os::SystemMessageBoxAnswer(IDNO, os::MsgButtons::YesNo), os::MsgAnswer::No);
  // A box that could not open (0) takes the safe answer.
  EXPECT_EQ(os::SystemMessageBoxAnswer(0, os::MsgButtons::YesNo), os::MsgAnswer::No);
  EXPECT_EQ(os::SystemMessageBoxAnswer(0, os::MsgButtons::Ok), os::MsgAnswer::Ok);
}

}  // namespace
