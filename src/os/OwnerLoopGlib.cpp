// Owner loops on GLib main contexts: a watch is a custom GSource whose prepare and check ask
// ready(); a timer is a GLib timeout; Wake is g_main_context_wakeup.
#include "os/OwnerLoop.h"

#include <glib.h>

namespace os {
namespace {

GMainContext* ContextOf(void* handle) { return static_cast<GMainContext*>(handle); }

struct WatchSource {
  GSource base;
  std::function<bool()>* ready;
  std::function<void()>* run;
};

WatchSource& WatchOf(GSource* source) { return *reinterpret_cast<WatchSource*>(source); }

gboolean WatchPrepare(GSource* source, gint* timeout) {
  *timeout = -1;
  return (*WatchOf(source).ready)();
}

gboolean WatchCheck(GSource* source) { return (*WatchOf(source).ready)(); }

gboolean WatchDispatch(GSource* source, GSourceFunc, gpointer) {
  (*WatchOf(source).run)();
  return G_SOURCE_CONTINUE;
}

void WatchFinalize(GSource* source) {
  delete WatchOf(source).ready;
  delete WatchOf(source).run;
}

GSourceFuncs gWatchFuncs = {WatchPrepare, WatchCheck, WatchDispatch, WatchFinalize, nullptr, nullptr};

gboolean TimerTick(gpointer data) {
  return (*static_cast<std::function<bool()>*>(data))() ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

void FreeTick(gpointer data) { delete static_cast<std::function<bool()>*>(data); }

}  // namespace

LoopSource& LoopSource::operator=(LoopSource&& other) noexcept {
  if (this != &other) {
    Remove();
    handle_ = other.handle_;
    other.handle_ = nullptr;
  }
  return *this;
}

void LoopSource::Remove() {
  if (!handle_) return;
  GSource* source = static_cast<GSource*>(handle_);
  handle_ = nullptr;
  g_source_destroy(source);  // nothing happens to one that already ended itself
  g_source_unref(source);
}

OwnerLoop::OwnerLoop() : handle_(g_main_context_ref_thread_default()) {}

OwnerLoop::~OwnerLoop() { g_main_context_unref(ContextOf(handle_)); }

void OwnerLoop::Wake() { g_main_context_wakeup(ContextOf(handle_)); }

bool OwnerLoop::Acquire() { return g_main_context_acquire(ContextOf(handle_)); }

void OwnerLoop::Release() { g_main_context_release(ContextOf(handle_)); }

LoopSource OwnerLoop::Watch(const char* name, std::function<bool()> ready, std::function<void()> run) {
  GSource* source = g_source_new(&gWatchFuncs, sizeof(WatchSource));
  WatchOf(source).ready = new std::function<bool()>(std::move(ready));
  WatchOf(source).run = new std::function<void()>(std::move(run));
  g_source_set_name(source, name);
  g_source_attach(source, ContextOf(handle_));
  return LoopSource(source);
}

LoopSource OwnerLoop::Timer(unsigned periodMs, std::function<bool()> tick) {
  GSource* source = g_timeout_source_new(periodMs);
  g_source_set_callback(source, TimerTick, new std::function<bool()>(std::move(tick)), FreeTick);
  g_source_attach(source, ContextOf(handle_));
  return LoopSource(source);
}

}  // namespace os
