#include "net/RequestEvents.h"

namespace inner {

void Channel::Post(int id, RequestEvent event) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return;
    queue_.push_back(Item{id, event, nullptr});
  }
  loop->Wake();
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
  loop->Wake();
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

}  // namespace inner
