// The UI thread's loop on GLib: its default main context, which the GTK main loop iterates.
#include <glib.h>

#include <utility>

#include "os/MainLoop.h"

namespace os {

namespace {

gboolean RunOnce(gpointer data) {
  (*static_cast<std::function<void()>*>(data))();
  return G_SOURCE_REMOVE;
}

void FreeFunction(gpointer data) { delete static_cast<std::function<void()>*>(data); }

}  // namespace

// The default context serves whichever thread runs it.
void AttachMainLoop() {}

// Always through a source on the default context: g_main_context_invoke would run fn on the
// calling thread whenever the UI thread is not iterating at that moment.
void PostToMainLoop(std::function<void()> fn) {
  GSource* source = g_idle_source_new();
  g_source_set_priority(source, G_PRIORITY_DEFAULT);
  g_source_set_callback(source, RunOnce, new std::function<void()>(std::move(fn)), FreeFunction);
  g_source_attach(source, g_main_context_default());
  g_source_unref(source);
}

// Shared by the timer object and its source, so a tick that stops its own timer still returns
// into a live state.
struct MainLoopTimer::State {
  std::function<bool()> tick;
  guint source = 0;  // 0 once the timer has ended
};

namespace {

gboolean Tick(gpointer data) {
  const std::shared_ptr<MainLoopTimer::State> state = *static_cast<std::shared_ptr<MainLoopTimer::State>*>(data);
  if (state->tick()) return G_SOURCE_CONTINUE;
  state->source = 0;
  return G_SOURCE_REMOVE;
}

void FreeState(gpointer data) { delete static_cast<std::shared_ptr<MainLoopTimer::State>*>(data); }

}  // namespace

MainLoopTimer::MainLoopTimer(unsigned periodMs, std::function<bool()> tick) : state_(std::make_shared<State>()) {
  state_->tick = std::move(tick);
  GSource* source = g_timeout_source_new(periodMs);
  g_source_set_callback(source, Tick, new std::shared_ptr<State>(state_), FreeState);
  state_->source = g_source_attach(source, g_main_context_default());
  g_source_unref(source);
}

MainLoopTimer& MainLoopTimer::operator=(MainLoopTimer&& other) noexcept {
  if (this != &other) {
    Stop();
    state_ = std::move(other.state_);
  }
  return *this;
}

void MainLoopTimer::Stop() {
  if (state_ && state_->source != 0) {
    const guint source = state_->source;
    state_->source = 0;
    g_source_remove(source);
  }
  state_.reset();
}

bool MainLoopTimer::Active() const { return state_ && state_->source != 0; }

}  // namespace os
