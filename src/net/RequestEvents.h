// The queue between a manager's worker threads and its owner's loop (os/OwnerLoop.h), where a
// watch drains it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

#include "net/FCHttpRequestManager.h"
#include "os/OwnerLoop.h"

namespace inner {

enum class RequestEvent : int {
  Connected,  // the connect thread is done (connected or not); the transfer thread runs
  Sent,       // the final response's headers are in (or the transfer failed before them)
  Finished,   // the transfer is over
};

// Shared by the manager and every request, so a worker that outlives the manager still posts into
// valid memory (and its events are dropped). It also counts the running workers, which the
// shutdown waits for.
struct Channel {
  struct Item {
    int id = 0;
    RequestEvent event = RequestEvent::Connected;
    std::shared_ptr<FCHttpRequest> adopt;  // a request started on another thread
  };

  explicit Channel(std::shared_ptr<os::OwnerLoop> ownerLoop) : loop(std::move(ownerLoop)) {}
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;

  // Any thread; wakes the owner's loop. Dropped once the channel is closed.
  void Post(int id, RequestEvent event);
  // Any thread. Counts one more running worker; false (nothing counted) once closed.
  bool AddWorker();
  // Any thread. Hands a request to the owner and counts its connect thread, in one step.
  bool Admit(std::shared_ptr<FCHttpRequest> request);
  // Called last by every worker (a transfer may be counted after the manager shut down).
  void WorkerEnded();

  // Owner's thread.
  bool Pop(Item& item);
  bool HasItems();
  // Drops every later post and returns what was still queued.
  std::deque<Item> Close();
  // Waits until no worker runs, at most limit; true when none does.
  bool WaitForWorkers(std::chrono::milliseconds limit);

  // Woken by every post; shared, so a worker that outlives the manager still posts into a live loop.
  const std::shared_ptr<os::OwnerLoop> loop;

 private:
  std::mutex mutex_;
  std::condition_variable workersDone_;
  std::deque<Item> queue_;
  bool closed_ = false;
  int runningWorkers_ = 0;
};

}  // namespace inner
