// The UI thread's loop on Windows: its message queue. A message-only window of the UI thread
// receives one posted message per queued function and the WM_TIMER messages of the timers, so
// both run wherever that thread dispatches messages (its own loop, a message box, a window drag).
#include <windows.h>

#include <deque>
#include <map>
#include <mutex>
#include <utility>

#include "log/LauncherLog.h"
#include "os/MainLoop.h"

namespace os {

struct MainLoopTimer::State {
  std::function<bool()> tick;
  UINT_PTR id = 0;  // 0 once the timer has ended
};

namespace {

constexpr char kModule[] = "MainLoopWin32";
constexpr UINT kRunQueued = WM_APP + 1;
constexpr wchar_t kClassName[] = L"VellmoraMainLoop";

// The queue is shared with every thread; the window and the timers belong to the UI thread.
std::mutex gLock;
std::deque<std::function<void()>> gQueue;
HWND gWindow = nullptr;
DWORD gThread = 0;
std::map<UINT_PTR, std::shared_ptr<MainLoopTimer::State>> gTimers;  // UI thread
UINT_PTR gNextTimerId = 1;                                          // UI thread

// UI thread: one message runs the oldest queued function.
void RunOldest() {
  std::function<void()> fn;
  {
    std::lock_guard<std::mutex> lock(gLock);
    if (gQueue.empty()) return;
    fn = std::move(gQueue.front());
    gQueue.pop_front();
  }
  fn();
}

void RunTimer(HWND window, UINT_PTR id) {
  const auto it = gTimers.find(id);
  if (it == gTimers.end()) return;  // stopped while its message was on its way
  const std::shared_ptr<MainLoopTimer::State> state = it->second;
  if (state->tick()) return;
  if (state->id != 0) {
    KillTimer(window, state->id);
    gTimers.erase(state->id);
    state->id = 0;
  }
}

LRESULT CALLBACK LoopWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case kRunQueued: RunOldest(); return 0;
    case WM_TIMER: RunTimer(window, static_cast<UINT_PTR>(wparam)); return 0;
    default: return DefWindowProcW(window, message, wparam, lparam);
  }
}

HWND NewLoopWindow() {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = LoopWindowProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = kClassName;
  RegisterClassExW(&wc);  // fails harmlessly when already registered
  return CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
}

}  // namespace

// UI thread. The window lives as long as the process; a later attach from another thread (a
// test's second run) makes a window of that thread.
void AttachMainLoop() {
  if (gThread == GetCurrentThreadId() && gWindow) return;
  HWND window = NewLoopWindow();
  if (!window) {
    LogError("main loop window not created, error " + std::to_string(GetLastError()), "AttachMainLoop", kModule,
             __LINE__);
    return;
  }
  std::lock_guard<std::mutex> lock(gLock);
  gWindow = window;
  gThread = GetCurrentThreadId();
  gTimers.clear();
  // Functions posted before the loop existed run first, in their order.
  for (size_t i = 0; i < gQueue.size(); ++i) PostMessageW(gWindow, kRunQueued, 0, 0);
}

// Any thread. One message per function keeps them in order and lets the loop dispatch other
// messages between them, as an idle source would.
void PostToMainLoop(std::function<void()> fn) {
  std::lock_guard<std::mutex> lock(gLock);
  gQueue.push_back(std::move(fn));
  if (gWindow && !PostMessageW(gWindow, kRunQueued, 0, 0)) {
    LogError("posting to the main loop failed, error " + std::to_string(GetLastError()), "PostToMainLoop", kModule,
             __LINE__);
  }
}

MainLoopTimer::MainLoopTimer(unsigned periodMs, std::function<bool()> tick) : state_(std::make_shared<State>()) {
  state_->tick = std::move(tick);
  if (!gWindow) {
    LogError("timer before the main loop", "MainLoopTimer", kModule, __LINE__);
    return;
  }
  const UINT_PTR id = gNextTimerId++;
  if (SetTimer(gWindow, id, periodMs, nullptr) == 0) {
    LogError("SetTimer failed, error " + std::to_string(GetLastError()), "MainLoopTimer", kModule, __LINE__);
    return;
  }
  state_->id = id;
  gTimers[id] = state_;
}

MainLoopTimer& MainLoopTimer::operator=(MainLoopTimer&& other) noexcept {
  if (this != &other) {
    Stop();
    state_ = std::move(other.state_);
  }
  return *this;
}

void MainLoopTimer::Stop() {
  if (state_ && state_->id != 0) {
    const UINT_PTR id = state_->id;
    state_->id = 0;
    KillTimer(gWindow, id);
    gTimers.erase(id);  // the state lives on in this object until the reset below
  }
  state_.reset();
}

bool MainLoopTimer::Active() const { return state_ && state_->id != 0; }

}  // namespace os
