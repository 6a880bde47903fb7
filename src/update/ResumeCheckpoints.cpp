#include "update/ResumeCheckpoints.h"

#include "os/CrashHandler.h"
#include "update/ResumeState.h"

ResumeCheckpoints::ResumeCheckpoints(UpdateState& state, const InstallLayout& layout)
    : state_(state), layout_(layout), thread_([this] { Run(); }) {}

ResumeCheckpoints::~ResumeCheckpoints() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ending_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void ResumeCheckpoints::Request() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requested_ = true;
  }
  changed_.notify_one();
}

// Checkpoint thread.
void ResumeCheckpoints::Run() {
  os::ThreadSignalStack signalStack;
  std::unique_lock<std::mutex> lock(mutex_);
  while (true) {
    changed_.wait(lock, [this] { return ending_ || requested_; });
    if (!requested_) return;  // ending, nothing left to save
    requested_ = false;
    lock.unlock();
    SaveResumeState(state_, layout_);
    lock.lock();
  }
}
