#include <glib.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "os/OwnerLoop.h"

namespace {

using Clock = std::chrono::steady_clock;

// A fresh thread-default GLib context for the test thread, which the loop under test takes.
class ThreadContext {
 public:
  ThreadContext() : context_(g_main_context_new()) { g_main_context_push_thread_default(context_); }
  ~ThreadContext() {
    g_main_context_pop_thread_default(context_);
    g_main_context_unref(context_);
  }
  GMainContext* Get() const { return context_; }

 private:
  GMainContext* context_;
};

}  // namespace

// A watch runs on the loop's thread as soon as another thread makes it ready and wakes the loop:
// the loop is blocked in its wait meanwhile, with nothing else due for seconds.
TEST(OwnerLoop, WakeFromAnotherThreadRunsAReadyWatchOnTheLoopThread) {
  ThreadContext context;
  os::OwnerLoop loop;
  EXPECT_EQ(loop.Handle(), context.Get());
  std::atomic<bool> ready{false};
  std::thread::id ranOn;
  int runs = 0;
  os::LoopSource watch = loop.Watch(
      "test watch", [&] { return ready.load(); },
      [&] {
        ranOn = std::this_thread::get_id();
        ++runs;
        ready = false;
      });
  // A distant guard, so a lost wake fails the test instead of hanging it.
  os::LoopSource guard = loop.Timer(5000, [] { return true; });

  std::thread poster([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ready = true;
    loop.Wake();
  });
  const auto start = Clock::now();
  g_main_context_iteration(context.Get(), TRUE);
  const auto waited = Clock::now() - start;
  poster.join();
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(ranOn, std::this_thread::get_id());
  EXPECT_LT(waited, std::chrono::milliseconds(2000));

  watch.Remove();
  EXPECT_FALSE(watch.Attached());
  ready = true;
  loop.Wake();
  while (g_main_context_iteration(context.Get(), FALSE)) {
  }
  EXPECT_EQ(runs, 1) << "a removed watch never runs";
}

// A timer ends when its tick says so or when the tick removes its own source; either way its
// function (and what it holds) is released.
TEST(OwnerLoop, TimersEndByTheirTickOrByRemovingThemselves) {
  ThreadContext context;
  os::OwnerLoop loop;
  struct Case {
    const char* name;
    bool removeInTick;
  };
  for (const Case c : {Case{"tick returns false", false}, Case{"tick removes its source", true}}) {
    SCOPED_TRACE(c.name);
    auto held = std::make_shared<int>(0);
    int ticks = 0;
    os::LoopSource timer;
    timer = loop.Timer(5, [&, held] {
      ++ticks;
      if (ticks < 3) return true;
      if (c.removeInTick) timer.Remove();
      return false;
    });
    const auto deadline = Clock::now() + std::chrono::milliseconds(500);
    while (Clock::now() < deadline) g_main_context_iteration(context.Get(), FALSE);
    EXPECT_EQ(ticks, 3);
    EXPECT_EQ(timer.Attached(), !c.removeInTick);
    timer.Remove();  // harmless on a timer that ended itself
    EXPECT_EQ(held.use_count(), 1) << "the tick's function was released";
  }
}

// Only one thread at a time holds the loop: while its own thread runs it, another thread's Acquire
// fails; once nobody runs it, any thread may hold it.
TEST(OwnerLoop, AcquireFailsWhileTheLoopThreadRunsIt) {
  std::unique_ptr<os::OwnerLoop> loop;
  GMainLoop* mainLoop = nullptr;
  std::atomic<bool> running{false};
  std::thread runner([&] {
    ThreadContext context;
    loop = std::make_unique<os::OwnerLoop>();
    mainLoop = g_main_loop_new(context.Get(), FALSE);
    os::LoopSource started = loop->Timer(1, [&] {
      running = true;
      return false;
    });
    g_main_loop_run(mainLoop);
  });
  while (!running) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_FALSE(loop->Acquire());
  g_main_loop_quit(mainLoop);
  runner.join();
  g_main_loop_unref(mainLoop);
  EXPECT_TRUE(loop->Acquire());
  loop->Release();
}
