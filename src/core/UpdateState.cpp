#include "core/UpdateState.h"

std::string UpdateState::GameName() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return gameName_;
}

void UpdateState::SetGameName(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  gameName_ = name;
}

int UpdateState::FirstInstall() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return firstInstall_;
}

void UpdateState::SetFirstInstall(int value) {
  std::lock_guard<std::mutex> lock(mutex_);
  firstInstall_ = value;
}

DownloadCounters UpdateState::Counters() const {
  std::lock_guard<std::mutex> lock(counterMutex_);
  return counters_;
}

void UpdateState::SetCounters(const DownloadCounters& counters) {
  std::lock_guard<std::mutex> lock(counterMutex_);
  counters_ = counters;
}

void UpdateState::RequestCancel() {
  std::lock_guard<std::mutex> lock(closingMutex_);
  cancel_.store(true);
  closing_.notify_all();
}

bool UpdateState::WaitForCancel(std::chrono::milliseconds wait) {
  std::unique_lock<std::mutex> lock(closingMutex_);
  return closing_.wait_for(lock, wait, [this] { return cancel_.load(); });
}

bool UpdateState::BeginExtraction() {
  // Under the lock that RequestCancel takes: once the closing launcher has seen no extraction
  // running, none can start.
  std::lock_guard<std::mutex> lock(closingMutex_);
  if (cancel_.load()) return false;
  ++extractions_;
  return true;
}

void UpdateState::EndExtraction() {
  std::lock_guard<std::mutex> lock(closingMutex_);
  --extractions_;
  closing_.notify_all();
}

bool UpdateState::WaitWhileExtracting(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(closingMutex_);
  return closing_.wait_for(lock, limit, [this] { return extractions_ == 0; });
}
