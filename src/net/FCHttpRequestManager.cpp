// The owner's side of the manager: requests queued, advanced by the workers' events, retired,
// timed out and swept on the owner's context; the bounded shutdown.
#include "net/FCHttpRequestManager.h"

#include <glib.h>

#include "net/HttpTransfer.h"
#include "net/RequestEvents.h"
#include "net/RequestTransport.h"
#include "net/RequestWorkers.h"
#include "net/ResponseHeaders.h"

using inner::RequestEvent;

FCHttpRequestManager::FCHttpRequestManager() {
  InitHttpTransfers();  // here, before any worker runs
  context_ = g_main_context_ref_thread_default();
  channel_ = std::make_shared<inner::Channel>(context_);
  eventSource_ = inner::AttachDrainSource(channel_, [this] { DrainQueue(); });
}

FCHttpRequestManager::~FCHttpRequestManager() {
  Shutdown();
  g_main_context_unref(context_);
}

void FCHttpRequestManager::OnRequestSent(FCHttpRequest&) {}
void FCHttpRequestManager::OnRequestFinished(FCHttpRequest&) {}
void FCHttpRequestManager::OnRequestTimeout(FCHttpRequest&) {}

int FCHttpRequestManager::StartRequest(const HttpRequestHeader& header) {
  int id = nextRequestId_.fetch_add(1);
  if (shutDown_) return id;
  RequestPtr request(new FCHttpRequest(id, header, channel_));
  request->transport_->connectRunning.store(true);
  // Holding the owner's context serialises this with everything that runs there (dispatch,
  // timers): on the thread that iterates it, or on any thread while nobody does, the request is
  // queued here; otherwise it is handed to that thread.
  if (g_main_context_acquire(context_)) {
    bool admitted = channel_->AddWorker();
    if (admitted) Adopt(request);
    g_main_context_release(context_);
    if (!admitted) return id;  // the manager is shutting down
  } else if (!channel_->Admit(request)) {
    return id;
  }
  inner::StartConnectThread(request, *request->transport_);
  return id;
}

void FCHttpRequestManager::Adopt(const RequestPtr& request) {
  StartSweepTimer();
  if (request->header_.timeoutMs != 0) {
    const int id = request->id_;
    request->timeoutSource_ = inner::AttachTimer(context_, request->header_.timeoutMs, [this, id] {
      HandleTimeout(id);
      return false;  // fires once
    });
  }
  active_.push_back(request);
}

void FCHttpRequestManager::StartSweepTimer() {
  inner::DestroySource(sweepSource_);  // restarting resets the period
  sweepSource_ = inner::AttachTimer(context_, kSweepPeriodMs, [this] { return SweepTick(); });
}

bool FCHttpRequestManager::SweepTick() {
  if (Sweep()) return true;
  // The timer ends with this tick: drop our reference, the context drops its own.
  g_source_unref(sweepSource_);
  sweepSource_ = nullptr;
  return false;
}

void FCHttpRequestManager::DrainQueue() {
  inner::Channel::Item item;
  while (!shutDown_ && channel_->Pop(item)) {
    if (item.adopt) {
      RequestPtr request = std::move(item.adopt);
      Adopt(request);
    } else {
      HandleEvent(item.id, item.event);
    }
  }
}

FCHttpRequestManager::RequestPtr FCHttpRequestManager::FindActive(int id) const {
  for (const RequestPtr& request : active_)
    if (request->id_ == id) return request;
  return nullptr;
}

void FCHttpRequestManager::HandleEvent(int id, RequestEvent event) {
  RequestPtr request = FindActive(id);
  if (!request) return;  // retired meanwhile
  FCHttpRequest::Transport& t = *request->transport_;
  switch (event) {
    case RequestEvent::Connected:
      // Connected (or not): the connect thread has already handed over to the transfer thread.
      break;
    case RequestEvent::Sent: {
      HttpResponseInfo& info = request->responseInfo_;
      // The transport identifies the transfer: it lives as long as the request.
      info.requestHandle = t.connected && t.transferRan ? &t : nullptr;
      if (info.requestHandle) ReadResponseInfo(t.rawHeaders, info);
      OnRequestSent(*request);
      break;
    }
    case RequestEvent::Finished:
      request->responseInfo_.readResult = t.readResult.load();
      OnRequestFinished(*request);
      Retire(id);
      break;
  }
}

void FCHttpRequestManager::HandleTimeout(int id) {
  // The timer source ends with this call: forget it.
  for (auto* queue : {&active_, &retired_})
    for (const RequestPtr& request : *queue)
      if (request->id_ == id && request->timeoutSource_) {
        g_source_unref(request->timeoutSource_);
        request->timeoutSource_ = nullptr;
      }
  RequestPtr request = FindActive(id);
  if (!request) return;
  OnRequestTimeout(*request);
  Retire(id);
}

void FCHttpRequestManager::Retire(int id) {
  for (auto it = active_.begin(); it != active_.end(); ++it) {
    if ((*it)->id_ != id) continue;
    RequestPtr request = *it;
    request->transport_->Abort();
    active_.erase(it);
    retired_.push_back(request);
    return;
  }
}

bool FCHttpRequestManager::Sweep() {
  if (active_.empty() && retired_.empty()) return false;
  for (auto it = retired_.begin(); it != retired_.end();) {
    FCHttpRequest::Transport& t = *(*it)->transport_;
    if (t.connectRunning.load() || t.transferRunning.load()) {
      ++it;
      continue;
    }
    inner::DestroySource((*it)->timeoutSource_);
    it = retired_.erase(it);
  }
  return true;
}

void FCHttpRequestManager::Shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  bool acquired = g_main_context_acquire(context_);  // keeps other threads out of the queues meanwhile

  // From here on no notification reaches the owner.
  std::deque<inner::Channel::Item> pending = channel_->Close();
  inner::DestroySource(eventSource_);
  inner::DestroySource(sweepSource_);

  // Stop every transfer, including requests handed over from other threads but not adopted yet.
  std::deque<RequestPtr> all;
  for (auto& item : pending)
    if (item.adopt) all.push_back(std::move(item.adopt));
  all.insert(all.end(), active_.begin(), active_.end());
  all.insert(all.end(), retired_.begin(), retired_.end());
  for (const RequestPtr& request : all) {
    inner::DestroySource(request->timeoutSource_);
    request->transport_->Abort();
  }

  // Wait at most the shutdown wait; workers still running then keep their request alive on their
  // own and end without touching the manager.
  channel_->WaitForWorkers(std::chrono::milliseconds(kShutdownWaitMs));
  active_.clear();
  retired_.clear();
  if (acquired) g_main_context_release(context_);
}
