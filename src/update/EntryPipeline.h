// Entries' data copied on worker threads, several entries at once, with every outcome given back
// in the order the entries were handed over. The update worker reads the archive's directory and
// hands each file entry over (where its bytes are, its target); a worker reads the stored bytes
// itself, inflates them into a new file under a temporary name (EntryCopier, os::ReplacementFile)
// and leaves that file complete and closed but not yet renamed, so that the update worker decides, in the
// archive's order, which files become visible. What is in flight is bounded by a number of
// entries, not by the package: the stored bytes are never handed over, each worker owns one
// copier's small buffers, and one large entry at a time streams through its own, as it would on
// the update worker.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "os/ReplacementFile.h"
#include "update/EntryCopier.h"

class EntryPipeline {
 public:
  struct Entry {
    EntryCopier::Location location;
    std::string target;  // the file it replaces once committed
    unsigned mode = 0;   // for os::ReplacementFile
  };

  struct Outcome {
    enum class Status { Copied, Failed, Stopped };
    Status status = Status::Failed;
    int error = 0;  // after Failed: the errno of a refused create or write; 0 when the archive is at fault
    std::unique_ptr<os::ReplacementFile> file;  // after Copied: complete and closed, for the taker to commit
  };

  // Starts up to threads workers, each reading archivePath (as minizip was handed it) on its own.
  EntryPipeline(const std::string& archivePath, unsigned threads);
  // Abandons what is left (files not taken are removed) and joins the workers.
  ~EntryPipeline();
  EntryPipeline(const EntryPipeline&) = delete;
  EntryPipeline& operator=(const EntryPipeline&) = delete;

  // How many workers run; 0 when none could be started.
  size_t Workers() const { return workers_.size(); }

  // Update worker. Whether Add must wait for a Take: the bound on entries in flight is reached.
  bool Full() const;
  // Update worker: hands over the next entry.
  void Add(Entry entry);
  // Update worker: the outcome of the oldest entry not yet taken, once it is there; false when it
  // was not within wait (or nothing was handed over).
  bool Take(Outcome& outcome, std::chrono::milliseconds wait);
  // Update worker: entries not started are not copied, those being copied stop at their next block.
  void Abandon() { abandoned_ = true; }

 private:
  struct Slot {
    Entry entry;
    bool done = false;
    Outcome outcome;
  };

  // Worker thread: copies entries in the order they were handed over until the pipeline ends.
  void Run(const std::string& archivePath);
  Outcome Copy(EntryCopier& copier, const Entry& entry);

  std::atomic<bool> abandoned_{false};
  mutable std::mutex mutex_;
  std::condition_variable work_;  // an entry was handed over, or the pipeline ends
  std::condition_variable done_;  // the oldest entry was copied
  std::deque<Slot> slots_;        // handed over and not taken, oldest first
  uint64_t first_ = 0;            // the sequence number of slots_.front()
  uint64_t nextToStart_ = 0;      // the sequence number the next idle worker copies
  bool streaming_ = false;        // a worker copies an entry that streams (EntryCopier::Streams)
  bool ending_ = false;
  size_t limit_ = 0;
  std::vector<std::thread> workers_;
};
