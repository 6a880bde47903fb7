#include "update/EntryPipeline.h"

#include <system_error>
#include <utility>

#include "os/CrashHandler.h"

namespace {

// Entries in flight per worker: enough that a worker seldom waits behind a large entry before it
// that takes long to report. A copied entry waits closed (ReplacementFile::Finish), so the bound
// is on the temporary files beside the client, not on handles; a window 16 times as large
// measured no faster.
constexpr size_t kEntriesPerWorker = 64;
constexpr size_t kMostEntries = 256;

}  // namespace

EntryPipeline::EntryPipeline(const std::string& archivePath, unsigned threads) {
  limit_ = threads * kEntriesPerWorker < kMostEntries ? threads * kEntriesPerWorker : kMostEntries;
  for (unsigned i = 0; i < threads; ++i) {
    // A thread the system refuses leaves fewer workers; with none the caller copies alone.
    try {
      workers_.emplace_back(&EntryPipeline::Run, this, archivePath);
    } catch (const std::system_error&) {
      break;
    }
  }
}

EntryPipeline::~EntryPipeline() {
  abandoned_ = true;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ending_ = true;
  }
  work_.notify_all();
  for (std::thread& t : workers_) t.join();
  // The slots' files that were never committed are removed with them, here.
}

bool EntryPipeline::Full() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return slots_.size() >= limit_;
}

void EntryPipeline::Add(Entry entry) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    slots_.push_back(Slot{std::move(entry), false, {}});
  }
  work_.notify_one();
}

bool EntryPipeline::Take(Outcome& outcome, std::chrono::milliseconds wait) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!done_.wait_for(lock, wait, [this] { return !slots_.empty() && slots_.front().done; })) return false;
  outcome = std::move(slots_.front().outcome);
  slots_.pop_front();
  ++first_;
  return true;
}

void EntryPipeline::Run(const std::string& archivePath) {
  os::ThreadSignalStack signalStack;  // a crash on this thread still leaves its record
  EntryCopier copier(archivePath);
  std::unique_lock<std::mutex> lock(mutex_);
  while (true) {
    // One streaming entry at a time: each holds a few MiB of buffers and threads of its own, so
    // that two would double the memory for little gain; the entries after it wait with it, in order.
    work_.wait(lock, [this] {
      return ending_ || (nextToStart_ < first_ + slots_.size() &&
                         !(streaming_ && EntryCopier::Streams(slots_[nextToStart_ - first_].entry.location)));
    });
    if (ending_) return;
    const uint64_t sequence = nextToStart_++;
    // A deque keeps its elements in place while others are added at the back or taken from the
    // front, and this one is not taken before it is done.
    Slot& slot = slots_[sequence - first_];
    const bool streams = EntryCopier::Streams(slot.entry.location);
    if (streams) streaming_ = true;
    lock.unlock();
    Outcome outcome = Copy(copier, slot.entry);
    lock.lock();
    slot.outcome = std::move(outcome);
    slot.done = true;
    if (streams) {
      streaming_ = false;
      work_.notify_all();
    }
    if (sequence == first_) done_.notify_one();
  }
}

EntryPipeline::Outcome EntryPipeline::Copy(EntryCopier& copier, const Entry& entry) {
  Outcome outcome;
  const auto stop = [this] { return abandoned_.load(std::memory_order_relaxed); };
  if (stop()) {
    outcome.status = Outcome::Status::Stopped;
    return outcome;
  }
  if (!copier.Open(entry.location)) return outcome;
  auto file = std::make_unique<os::ReplacementFile>(entry.target, entry.mode);
  if (!file->Output().IsOpen()) {
    outcome.error = file->Error();
    return outcome;
  }
  switch (copier.CopyTo(file->Output(), stop)) {
    case EntryCopier::Result::Done:
      // Closed here, on this core: a file waiting for its commit holds no handle.
      if (const int error = file->Finish(); error != 0) {
        outcome.error = error;
        break;
      }
      outcome.status = Outcome::Status::Copied;
      outcome.file = std::move(file);
      break;
    case EntryCopier::Result::Failed: outcome.error = copier.WriteError(); break;
    case EntryCopier::Result::Stopped: outcome.status = Outcome::Status::Stopped; break;
  }
  return outcome;
}
