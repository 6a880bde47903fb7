#include "ui/UiThread.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "os/MainLoop.h"

namespace ui {
namespace {

// One hand-off waiting for the UI thread. A task that has not run when the UI shuts down is
// dropped: its waiter returns false and the function (which may refer to the waiter's stack) is
// never called.
struct Task {
  std::function<void()> fn;
  bool done = false;
  bool ran = false;
  unsigned generation = 0;
};

std::mutex gLock;
std::condition_variable gDone;
std::thread::id gUiThread;
bool gInitialised = false;
bool gShutdown = false;
unsigned gGeneration = 0;  // bumped by each UiThreadInit, so stale tasks of an earlier run never run

// UI thread: runs one task unless the UI has gone (or a new run started) since it was queued.
void RunTask(const std::shared_ptr<Task>& task) {
  bool run;
  {
    std::lock_guard<std::mutex> lock(gLock);
    run = !gShutdown && task->generation == gGeneration;
  }
  if (run) task->fn();
  {
    std::lock_guard<std::mutex> lock(gLock);
    task->ran = run;
    task->done = true;
  }
  gDone.notify_all();
}

// Never inline, also on the UI thread: the loop runs the task when it next iterates.
void Queue(const std::shared_ptr<Task>& task) {
  os::PostToMainLoop([task] { RunTask(task); });
}

}  // namespace

void UiThreadInit() {
  os::AttachMainLoop();
  std::lock_guard<std::mutex> lock(gLock);
  gUiThread = std::this_thread::get_id();
  gInitialised = true;
  gShutdown = false;
  ++gGeneration;
}

bool IsUiThread() {
  std::lock_guard<std::mutex> lock(gLock);
  return gInitialised && gUiThread == std::this_thread::get_id();
}

bool InvokeOnUiThread(const std::function<void()>& fn) {
  auto task = std::make_shared<Task>();
  {
    std::unique_lock<std::mutex> lock(gLock);
    if (!gInitialised || gShutdown) return false;
    if (gUiThread == std::this_thread::get_id()) {
      lock.unlock();
      fn();
      return true;
    }
    task->fn = fn;
    task->generation = gGeneration;
  }
  Queue(task);
  std::unique_lock<std::mutex> lock(gLock);
  gDone.wait(lock, [&] { return task->done || gShutdown || task->generation != gGeneration; });
  return task->ran;
}

void PostToUiThread(std::function<void()> fn) {
  auto task = std::make_shared<Task>();
  {
    std::lock_guard<std::mutex> lock(gLock);
    if (!gInitialised || gShutdown) return;
    task->fn = std::move(fn);
    task->generation = gGeneration;
  }
  Queue(task);
}

void UiThreadShutdown() {
  {
    std::lock_guard<std::mutex> lock(gLock);
    gShutdown = true;
  }
  gDone.notify_all();
}

}  // namespace ui
