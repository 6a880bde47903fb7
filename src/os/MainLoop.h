// The user-interface thread's loop as portable code sees it: functions queued to run there and
// timers that tick there. One implementation per platform: GLib's default main context on Linux,
// the UI thread's message queue (a message-only window) on Windows.
#pragma once

#include <functional>
#include <memory>

namespace os {

// Makes the calling thread the UI thread whose loop the calls below use; called on that thread
// before its loop runs (ui::UiThreadInit does). Again on the same thread it does nothing. GLib's
// default context needs nothing; on Windows, functions posted before this wait for it.
void AttachMainLoop();

// Queues fn to run once on the UI thread's loop, after what is already queued there at the same
// priority. Any thread. fn never runs inline: only when the loop next iterates, and never when the
// loop is not run again.
void PostToMainLoop(std::function<void()> fn);

// A repeating timer on the UI thread's loop: tick runs there every periodMs until it returns false
// or the timer is stopped or destroyed. Created, stopped and destroyed on the UI thread.
class MainLoopTimer {
 public:
  MainLoopTimer() = default;
  MainLoopTimer(unsigned periodMs, std::function<bool()> tick);
  ~MainLoopTimer() { Stop(); }
  MainLoopTimer(MainLoopTimer&& other) noexcept = default;
  MainLoopTimer& operator=(MainLoopTimer&& other) noexcept;
  MainLoopTimer(const MainLoopTimer&) = delete;
  MainLoopTimer& operator=(const MainLoopTimer&) = delete;

  // The tick runs no more. Does nothing on a timer that has ended.
  void Stop();
  // True until Stop, or until a tick returned false.
  bool Active() const;

  struct State;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace os
