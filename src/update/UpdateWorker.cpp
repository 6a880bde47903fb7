#include "update/UpdateWorker.h"

#include <chrono>
#include <thread>

#include "os/CrashHandler.h"

#include "update/CGameRemoteConfig.h"

UpdateWorker::UpdateWorker() : status_(std::make_shared<RunState>()) {}

void UpdateWorker::Start(LauncherContext& context, IWindowOperations* window) {
  {
    std::lock_guard<std::mutex> lock(status_->mutex);
    status_->running = true;
  }
  std::thread([status = status_, &context, window] {
    os::ThreadSignalStack signalStack;  // a crash on this thread still leaves its record
    CGameRemoteConfig(context).InitRemoteConfig(window);
    std::lock_guard<std::mutex> lock(status->mutex);
    status->running = false;
    status->done.notify_all();
  }).detach();
}

bool UpdateWorker::WaitFor(int timeoutMs) {
  std::unique_lock<std::mutex> lock(status_->mutex);
  return status_->done.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return !status_->running; });
}
