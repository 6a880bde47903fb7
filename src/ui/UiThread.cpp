#include "ui/UiThread.h"

#include <glib.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

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
gboolean RunTask(gpointer data) {
  auto task = *static_cast<std::shared_ptr<Task>*>(data);
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
  return G_SOURCE_REMOVE;
}

void FreeTask(gpointer data) { delete static_cast<std::shared_ptr<Task>*>(data); }

// Always through a source on the default context: g_main_context_invoke would run the task on the
// calling thread whenever the UI thread is not iterating at that moment.
void Queue(const std::shared_ptr<Task>& task) {
  GSource* source = g_idle_source_new();
  g_source_set_priority(source, G_PRIORITY_DEFAULT);
  g_source_set_callback(source, RunTask, new std::shared_ptr<Task>(task), FreeTask);
  g_source_attach(source, g_main_context_default());
  g_source_unref(source);
}

}  // namespace

void UiThreadInit() {
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
