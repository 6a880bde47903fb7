// Owner loops on Windows: the message queue of the constructing thread, reached through a hidden
// message-only window "brelic_http_event_wnd" of that thread (one per thread, shared by its
// loops). Wake posts one message (at most one is on its way); handling it asks every watch. Timers
// are SetTimer/WM_TIMER on the same window, so all of it runs wherever the thread dispatches
// messages.
#include "os/OwnerLoop.h"

#include <windows.h>

#include <atomic>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "log/LauncherLog.h"

namespace os {
namespace {

constexpr char kModule[] = "OwnerLoopWin32";
constexpr wchar_t kWindowName[] = L"brelic_http_event_wnd";
constexpr UINT kWakeMessage = WM_APP + 2;
constexpr UINT kEndMessage = WM_APP + 3;

struct WatchEntry {
  std::function<bool()> ready;
  std::function<void()> run;
  bool removed = false;
};

struct TimerEntry {
  std::function<bool()> tick;
  UINT_PTR id = 0;  // 0 once ended
};

// One thread's loop: its window, watches and timers. The window and the lists are the owner
// thread's; wakePending and the acquire state are shared with every thread.
struct ThreadLoop {
  HWND window = nullptr;
  DWORD thread = 0;
  std::list<std::shared_ptr<WatchEntry>> watches;
  std::map<UINT_PTR, std::shared_ptr<TimerEntry>> timers;
  UINT_PTR nextTimerId = 1;
  std::atomic<bool> wakePending{false};
  std::atomic<bool> ending{false};  // its last OwnerLoop is gone; new ones make a new loop
  std::recursive_mutex heldLock;    // held by a thread that acquired the loop of an ended owner
  std::atomic<std::thread::id> holder{};
  int holdCount = 0;

  bool OnOwnerThread() const { return GetCurrentThreadId() == thread; }
  bool Alive() const { return window && IsWindow(window); }
  void AskWatches();
  void RunTimer(UINT_PTR id);
};

// Owner's thread. A watch still ready after its run asks again through a new wake, so the other
// messages of the thread get their turn in between.
void ThreadLoop::AskWatches() {
  wakePending.store(false);
  const auto snapshot = watches;
  bool again = false;
  for (const std::shared_ptr<WatchEntry>& w : snapshot) {
    if (w->removed || !w->ready()) continue;
    w->run();
    if (!w->removed && w->ready()) again = true;
  }
  if (again && !wakePending.exchange(true)) PostMessageW(window, kWakeMessage, 0, 0);
}

void ThreadLoop::RunTimer(UINT_PTR id) {
  const auto it = timers.find(id);
  if (it == timers.end()) return;
  const std::shared_ptr<TimerEntry> entry = it->second;
  if (entry->tick()) return;
  if (entry->id != 0) {
    KillTimer(window, entry->id);
    timers.erase(entry->id);
    entry->id = 0;
  }
}

// The thread's loop while its window exists.
thread_local std::weak_ptr<ThreadLoop> tThreadLoop;

// Every loop by its handle, with the number of OwnerLoop objects on it. The window holds a
// reference of its own (see NewEventWindow), so a message already on its way never finds the loop
// gone.
std::mutex gLoopsLock;
struct Registered {
  std::shared_ptr<ThreadLoop> loop;
  int owners = 0;
};
std::map<ThreadLoop*, Registered> gLoops;

std::shared_ptr<ThreadLoop> FindLoop(ThreadLoop* loop) {
  std::lock_guard<std::mutex> lock(gLoopsLock);
  const auto it = gLoops.find(loop);
  return it == gLoops.end() ? nullptr : it->second.loop;
}

LRESULT CALLBACK EventWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* ref = reinterpret_cast<std::shared_ptr<ThreadLoop>*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case kWakeMessage:
      if (ref) (*ref)->AskWatches();
      return 0;
    case WM_TIMER:
      if (ref) (*ref)->RunTimer(static_cast<UINT_PTR>(wparam));
      return 0;
    case kEndMessage: DestroyWindow(window); return 0;
    case WM_NCDESTROY:
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      delete ref;
      return 0;
    default: return DefWindowProcW(window, message, wparam, lparam);
  }
}

HWND NewEventWindow(const std::shared_ptr<ThreadLoop>& loop) {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = EventWindowProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = kWindowName;
  RegisterClassExW(&wc);  // fails harmlessly when already registered
  HWND window =
      CreateWindowExW(0, kWindowName, kWindowName, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  if (window)
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(new std::shared_ptr<ThreadLoop>(loop)));
  return window;
}

ThreadLoop* LoopOf(void* handle) { return static_cast<ThreadLoop*>(handle); }

// What a LoopSource's handle points to: its entry and the loop it is on.
struct SourceRef {
  std::shared_ptr<ThreadLoop> loop;
  std::shared_ptr<WatchEntry> watch;  // or
  std::shared_ptr<TimerEntry> timer;
};

}  // namespace

LoopSource& LoopSource::operator=(LoopSource&& other) noexcept {
  if (this != &other) {
    Remove();
    handle_ = other.handle_;
    other.handle_ = nullptr;
  }
  return *this;
}

// Owner's thread.
void LoopSource::Remove() {
  if (!handle_) return;
  auto* ref = static_cast<SourceRef*>(handle_);
  handle_ = nullptr;
  ThreadLoop& loop = *ref->loop;
  if (ref->watch) {
    ref->watch->removed = true;
    loop.watches.remove(ref->watch);
  }
  if (ref->timer && ref->timer->id != 0) {
    KillTimer(loop.window, ref->timer->id);
    loop.timers.erase(ref->timer->id);
    ref->timer->id = 0;
  }
  delete ref;
}

OwnerLoop::OwnerLoop() {
  std::shared_ptr<ThreadLoop> loop = tThreadLoop.lock();
  if (!loop || loop->ending.load()) {
    loop = std::make_shared<ThreadLoop>();
    loop->thread = GetCurrentThreadId();
    loop->window = NewEventWindow(loop);
    if (!loop->window) {
      LogError("event window not created, error " + std::to_string(GetLastError()), "OwnerLoop", kModule, __LINE__);
    }
    tThreadLoop = loop;
  }
  handle_ = loop.get();
  std::lock_guard<std::mutex> lock(gLoopsLock);
  Registered& entry = gLoops[loop.get()];
  entry.loop = loop;
  ++entry.owners;
}

// Any thread (a worker may hold the last reference). The window goes with its own thread: from
// elsewhere it is asked to destroy itself, which does nothing once that thread has ended.
OwnerLoop::~OwnerLoop() {
  std::shared_ptr<ThreadLoop> loop;
  {
    std::lock_guard<std::mutex> lock(gLoopsLock);
    const auto it = gLoops.find(LoopOf(handle_));
    if (it == gLoops.end() || --it->second.owners > 0) return;
    loop = std::move(it->second.loop);
    gLoops.erase(it);
  }
  loop->ending.store(true);
  if (!loop->window) return;
  if (loop->OnOwnerThread()) {
    DestroyWindow(loop->window);
  } else {
    PostMessageW(loop->window, kEndMessage, 0, 0);
  }
}

// Any thread: at most one wake message is on its way at a time.
void OwnerLoop::Wake() {
  ThreadLoop* loop = LoopOf(handle_);
  if (!loop->window || loop->wakePending.exchange(true)) return;
  if (!PostMessageW(loop->window, kWakeMessage, 0, 0)) loop->wakePending.store(false);
}

// The owner's thread runs its loop whenever it dispatches messages, so it may always act; another
// thread may only once the owner's window has gone with its thread (nobody runs the loop then).
bool OwnerLoop::Acquire() {
  ThreadLoop* loop = LoopOf(handle_);
  if (loop->OnOwnerThread()) return true;
  if (loop->Alive()) return false;
  loop->heldLock.lock();
  loop->holder.store(std::this_thread::get_id());
  ++loop->holdCount;
  return true;
}

void OwnerLoop::Release() {
  ThreadLoop* loop = LoopOf(handle_);
  if (loop->OnOwnerThread() || loop->holder.load() != std::this_thread::get_id()) return;
  if (--loop->holdCount == 0) loop->holder.store(std::thread::id{});
  loop->heldLock.unlock();
}

LoopSource OwnerLoop::Watch(const char* /*name*/, std::function<bool()> ready, std::function<void()> run) {
  ThreadLoop* loop = LoopOf(handle_);
  auto entry = std::make_shared<WatchEntry>();
  entry->ready = std::move(ready);
  entry->run = std::move(run);
  loop->watches.push_back(entry);
  auto* ref = new SourceRef{FindLoop(loop), entry, nullptr};
  Wake();  // a watch that is ready already runs at the next turn, as on a loop that asks each turn
  return LoopSource(ref);
}

LoopSource OwnerLoop::Timer(unsigned periodMs, std::function<bool()> tick) {
  ThreadLoop* loop = LoopOf(handle_);
  auto entry = std::make_shared<TimerEntry>();
  entry->tick = std::move(tick);
  const UINT_PTR id = loop->nextTimerId++;
  if (loop->window && SetTimer(loop->window, id, periodMs, nullptr) != 0) {
    entry->id = id;
    loop->timers[id] = entry;
  } else {
    LogError("SetTimer failed, error " + std::to_string(GetLastError()), "OwnerLoop::Timer", kModule, __LINE__);
  }
  return LoopSource(new SourceRef{FindLoop(loop), nullptr, entry});
}

}  // namespace os
