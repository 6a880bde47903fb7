#include "net/RequestEvents.h"

#include <glib.h>

namespace inner {

Channel::Channel(GMainContext* ctx) : context(g_main_context_ref(ctx)) {}

Channel::~Channel() { g_main_context_unref(context); }

void Channel::Post(int id, RequestEvent event) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return;
    queue_.push_back(Item{id, event, nullptr});
  }
  g_main_context_wakeup(context);
}

bool Channel::AddWorker() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_) return false;
  ++runningWorkers_;
  return true;
}

bool Channel::Admit(std::shared_ptr<FCHttpRequest> request) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return false;
    queue_.push_back(Item{0, RequestEvent::Connected, std::move(request)});
    ++runningWorkers_;
  }
  g_main_context_wakeup(context);
  return true;
}

void Channel::WorkerEnded() {
  std::lock_guard<std::mutex> lock(mutex_);
  --runningWorkers_;
  workersDone_.notify_all();
}

bool Channel::Pop(Item& item) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (queue_.empty()) return false;
  item = std::move(queue_.front());
  queue_.pop_front();
  return true;
}

bool Channel::HasItems() {
  std::lock_guard<std::mutex> lock(mutex_);
  return !queue_.empty();
}

std::deque<Channel::Item> Channel::Close() {
  std::deque<Item> pending;
  std::lock_guard<std::mutex> lock(mutex_);
  closed_ = true;
  pending.swap(queue_);
  return pending;
}

bool Channel::WaitForWorkers(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(mutex_);
  return workersDone_.wait_for(lock, limit, [this] { return runningWorkers_ == 0; });
}

namespace {

struct DrainSource {
  GSource base;
  Channel* channel;
  std::function<void()>* drain;
};

Channel& ChannelOf(GSource* source) { return *reinterpret_cast<DrainSource*>(source)->channel; }

gboolean DrainPrepare(GSource* source, gint* timeout) {
  *timeout = -1;
  return ChannelOf(source).HasItems();
}

gboolean DrainCheck(GSource* source) { return ChannelOf(source).HasItems(); }

gboolean DrainDispatch(GSource* source, GSourceFunc, gpointer) {
  (*reinterpret_cast<DrainSource*>(source)->drain)();
  return G_SOURCE_CONTINUE;
}

void DrainFinalize(GSource* source) { delete reinterpret_cast<DrainSource*>(source)->drain; }

GSourceFuncs gDrainFuncs = {DrainPrepare, DrainCheck, DrainDispatch, DrainFinalize, nullptr, nullptr};

gboolean TimerTick(gpointer data) {
  return (*static_cast<std::function<bool()>*>(data))() ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

void FreeTick(gpointer data) { delete static_cast<std::function<bool()>*>(data); }

}  // namespace

GSource* AttachDrainSource(const std::shared_ptr<Channel>& channel, std::function<void()> drain) {
  GSource* source = g_source_new(&gDrainFuncs, sizeof(DrainSource));
  auto* drainSource = reinterpret_cast<DrainSource*>(source);
  drainSource->channel = channel.get();  // the manager that owns the source keeps the channel
  drainSource->drain = new std::function<void()>(std::move(drain));
  g_source_set_name(source, "http request events");
  g_source_attach(source, channel->context);
  return source;
}

GSource* AttachTimer(GMainContext* context, unsigned periodMs, std::function<bool()> tick) {
  GSource* source = g_timeout_source_new(periodMs);
  g_source_set_callback(source, TimerTick, new std::function<bool()>(std::move(tick)), FreeTick);
  g_source_attach(source, context);
  return source;
}

void DestroySource(GSource*& source) {
  if (!source) return;
  g_source_destroy(source);
  g_source_unref(source);
  source = nullptr;
}

}  // namespace inner
