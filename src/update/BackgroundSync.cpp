#include "update/BackgroundSync.h"

#include <utility>

#include "os/CrashHandler.h"
#include "os/FileSystem.h"

BackgroundSync::BackgroundSync(std::string path, uint64_t every)
    : path_(std::move(path)), every_(every > 0 ? every : kEvery), thread_([this] { Run(); }) {}

BackgroundSync::~BackgroundSync() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ending_ = true;
  }
  due_.notify_all();
  thread_.join();
}

void BackgroundSync::Written(uint64_t bytes) {
  bool due = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    unsynced_ += bytes;
    due = unsynced_ >= every_;
  }
  if (due) due_.notify_one();
}

unsigned BackgroundSync::Syncs() {
  std::lock_guard<std::mutex> lock(mutex_);
  return syncs_;
}

// Sync thread.
void BackgroundSync::Run() {
  os::ThreadSignalStack signalStack;
  std::unique_lock<std::mutex> lock(mutex_);
  while (true) {
    due_.wait(lock, [this] { return ending_ || unsynced_ >= every_; });
    if (ending_) return;
    unsynced_ = 0;
    lock.unlock();
    os::SyncFileSystem(path_);  // a failure shows in the installation's own sync
    lock.lock();
    ++syncs_;
  }
}
