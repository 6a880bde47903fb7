// The owner's side of the manager: requests queued, advanced by the workers' events, retired,
// timed out and swept on the owner's loop; the bounded shutdown.
#include "net/FCHttpRequestManager.h"

#include "net/HttpTransfer.h"
#include "net/RequestEvents.h"
#include "net/RequestTransport.h"
#include "net/RequestWorkers.h"
#include "net/ResponseHeaders.h"

using inner::RequestEvent;

FCHttpRequestManager::FCHttpRequestManager() {
  InitHttpTransfers();  // here, before any worker runs
  loop_ = std::make_shared<os::OwnerLoop>();
  channel_ = std::make_shared<inner::Channel>(loop_);
  // The manager keeps the channel as long as the watch.
  inner::Channel* channel = channel_.get();
  eventSource_ = loop_->Watch(
      "http request events", [channel] { return channel->HasItems(); }, [this] { DrainQueue(); });
}

FCHttpRequestManager::~FCHttpRequestManager() { Shutdown(); }

void FCHttpRequestManager::OnRequestSent(FCHttpRequest&) {}
void FCHttpRequestManager::OnRequestFinished(FCHttpRequest&) {}
void FCHttpRequestManager::OnRequestTimeout(FCHttpRequest&) {}

int FCHttpRequestManager::StartRequest(const HttpRequestHeader& header) {
  int id = nextRequestId_.fetch_add(1);
  if (shutDown_) return id;
  RequestPtr request(new FCHttpRequest(id, header, channel_));
  request->transport_->connectRunning.store(true);
  // Holding the owner's loop serialises this with everything that runs there (the watch, timers):
  // on the thread that runs it, or on any thread while nobody does, the request is queued here;
  // otherwise it is handed to that thread.
  if (loop_->Acquire()) {
    bool admitted = channel_->AddWorker();
    if (admitted) Adopt(request);
    loop_->Release();
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
    request->timeoutSource_ = loop_->Timer(request->header_.timeoutMs, [this, id] {
      HandleTimeout(id);
      return false;  // fires once
    });
  }
  active_.push_back(request);
}

void FCHttpRequestManager::StartSweepTimer() {
  sweepSource_.Remove();  // restarting resets the period
  sweepSource_ = loop_->Timer(kSweepPeriodMs, [this] { return SweepTick(); });
}

bool FCHttpRequestManager::SweepTick() {
  if (Sweep()) return true;
  // The timer ends with this tick.
  sweepSource_.Remove();
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
  // The timer ends with this call: forget it.
  for (auto* queue : {&active_, &retired_})
    for (const RequestPtr& request : *queue)
      if (request->id_ == id) request->timeoutSource_.Remove();
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
    (*it)->timeoutSource_.Remove();
    it = retired_.erase(it);
  }
  return true;
}

void FCHttpRequestManager::Shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  bool acquired = loop_->Acquire();  // keeps other threads out of the queues meanwhile

  // From here on no notification reaches the owner.
  std::deque<inner::Channel::Item> pending = channel_->Close();
  eventSource_.Remove();
  sweepSource_.Remove();

  // Stop every transfer, including requests handed over from other threads but not adopted yet.
  std::deque<RequestPtr> all;
  for (auto& item : pending)
    if (item.adopt) all.push_back(std::move(item.adopt));
  all.insert(all.end(), active_.begin(), active_.end());
  all.insert(all.end(), retired_.begin(), retired_.end());
  for (const RequestPtr& request : all) {
    request->timeoutSource_.Remove();
    request->transport_->Abort();
  }

  // Wait at most the shutdown wait; workers still running then keep their request alive on their
  // own and end without touching the manager.
  channel_->WaitForWorkers(std::chrono::milliseconds(kShutdownWaitMs));
  active_.clear();
  retired_.clear();
  if (acquired) loop_->Release();
}
