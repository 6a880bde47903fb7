// The update worker thread: runs CGameRemoteConfig::InitRemoteConfig once per run, detached (it
// is never joined), and lets the closing launcher wait a bounded time for it to end.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>

#include "core/LauncherContext.h"
#include "update/IWindowOperations.h"

class UpdateWorker {
 public:
  UpdateWorker();
  UpdateWorker(const UpdateWorker&) = delete;
  UpdateWorker& operator=(const UpdateWorker&) = delete;

  // Starts the worker (UI thread, once). The context and the window must outlive it.
  void Start(LauncherContext& context, IWindowOperations* window);

  // Waits at most timeoutMs for the worker to end; true when none runs (UI thread, after the
  // window has closed and the transfer was told to stop).
  bool WaitFor(int timeoutMs);

 private:
  // Shared with the thread, so that a worker outliving this object still has it.
  struct RunState {
    std::mutex mutex;
    std::condition_variable done;
    bool running = false;
  };
  std::shared_ptr<RunState> status_;
};
