// Makes what an extraction writes durable while it goes on. The installation ends with one sync of
// the client's file system before its version record; left to itself the system keeps hundreds of
// MiB of new files in the page cache until then, and that sync writes them all after the last
// entry. Here a thread of its own syncs the file system each time enough more bytes were written,
// so the disk takes them while the next entries are inflated. A failure is left to the final sync,
// which reports it. Written on the writing threads; the rest on the owner's thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

class BackgroundSync {
 public:
  // path: a folder on the file system written to. A sync follows each `every` bytes written.
  explicit BackgroundSync(std::string path, uint64_t every = kEvery);
  // Waits for a sync under way; what was written since is left to the caller's own sync.
  ~BackgroundSync();
  BackgroundSync(const BackgroundSync&) = delete;
  BackgroundSync& operator=(const BackgroundSync&) = delete;

  // bytes more were written into files (any thread).
  void Written(uint64_t bytes);
  // Syncs done so far (any thread).
  unsigned Syncs();

  static constexpr uint64_t kEvery = 32 * 1024 * 1024;

 private:
  void Run();

  const std::string path_;
  const uint64_t every_;
  std::mutex mutex_;
  std::condition_variable due_;
  uint64_t unsynced_ = 0;
  unsigned syncs_ = 0;
  bool ending_ = false;
  std::thread thread_;
};
