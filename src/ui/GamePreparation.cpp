#include "ui/GamePreparation.h"

#include <utility>

#include "log/LauncherLog.h"
#include "os/CrashHandler.h"
#include "os/WineRunner.h"

namespace {
constexpr char kFunction[] = "GamePreparation::Run";
constexpr char kModule[] = "CWebCDlg";
}  // namespace

void GamePreparation::Start(const std::string& runner, const std::string& prefix, std::function<void()> done) {
  if (thread_.joinable()) return;
  thread_ = std::thread([shared = shared_, runner, prefix, done = std::move(done)] {
    os::ThreadSignalStack signalStack;
    LogInfo("prepare wine prefix:" + prefix + " with " + runner, kFunction, kModule, 520);
    const int status = os::PrepareWinePrefix(runner, prefix);
    // Wine's exit status alone does not stop the game: its own start tells.
    if (status == 0) {
      LogInfo("wine prefix ready", kFunction, kModule, 524);
    } else {
      LogError("wine prefix preparation ended with status:" + std::to_string(status), kFunction, kModule, 526);
    }
    {
      std::lock_guard<std::mutex> hold(shared->lock);
      if (shared->abandoned) return;
      shared->calling = true;
    }
    done();
  });
}

void GamePreparation::Abandon() {
  if (!thread_.joinable()) return;
  bool calling;
  {
    std::lock_guard<std::mutex> hold(shared_->lock);
    shared_->abandoned = true;
    calling = shared_->calling;
  }
  if (calling) {
    thread_.join();
  } else {
    thread_.detach();
  }
}
