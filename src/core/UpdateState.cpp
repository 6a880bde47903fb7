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
