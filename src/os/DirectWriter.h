// Appends a large file through a few reused, aligned buffers that a writer thread writes straight
// to the disk (O_DIRECT). Filling fresh page-cache pages is what a large install costs most on a
// machine whose free memory is handed back to its host (a virtual machine); a direct write from a
// buffer that is used again and again costs none, takes none of the player's page cache, and runs on
// another core while the producer (a transfer, an inflater) goes on. Where the file system refuses
// direct writes, the same thread writes through the page cache.
//
// Owner thread: Room, Commit, Append, Flush, Finish, Failed. The hooks run on the writer thread and
// on an inspector thread, which reads each buffer while it is being written (a digest).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "os/DirectBlock.h"
#include "os/File.h"

namespace os {

class DirectWriter {
 public:
  enum class Mode {
    Direct,    // O_DIRECT where the file system takes it, else the page cache
    Buffered,  // the page cache (small files, or a caller that will read the file back at once)
  };
  using BytesHook = std::function<void(const uint8_t* data, size_t size)>;
  struct Hooks {
    // Writer thread, after each piece is in the file, in file order: the bytes just written.
    BytesHook written;
    // Inspector thread (started only for this hook), every byte handed over, in file order, while
    // the writer writes it: a second core does the looking while the first waits for the disk.
    // A byte it sees may still fail to reach the file (then Finish says so).
    BytesHook inspect;
  };

  // Appends at offset (the bytes before it are left alone) to the file open at fd (not owned, open
  // for writing, kept open until Finish returns). The unaligned head and tail are written through
  // fd, the rest through a direct descriptor of the same file.
  DirectWriter(FileHandle fd, uint64_t offset, Mode mode, Hooks hooks = {});
  ~DirectWriter();  // finishes what was committed
  DirectWriter(const DirectWriter&) = delete;
  DirectWriter& operator=(const DirectWriter&) = delete;

  // Room to fill in the current buffer (size at least 1; nullptr once a write has failed, or
  // when no buffer memory could be had). Valid until the next Commit, Append or Finish.
  uint8_t* Room(size_t& size);
  // Hands the first n bytes of the room to the writer; false once a write has failed.
  bool Commit(size_t n);
  // Room and Commit over a copy of data.
  bool Append(const void* data, size_t size);
  // Hands over the bytes committed so far without waiting for a full buffer, so that a slow
  // producer's bytes reach the file soon; false once a write has failed.
  bool Flush();
  // Waits until every committed byte is in the file; false when any write failed. Idempotent.
  bool Finish();
  // A write failed (its errno in Error()); nothing after it is written.
  bool Failed() const;
  int Error() const;
  // Whether the writes go past the page cache (false: the file system refused, or Mode::Buffered).
  bool Direct() const { return direct_.load(); }

 private:
  struct Buffer {
    DirectBlock data{nullptr, nullptr};
    uint64_t base = 0;  // the file offset of data[0], aligned
    size_t begin = 0;   // the bytes [begin, end) are the ones to write
    size_t end = 0;
    int users = 0;  // the threads still working on it; free again at 0
  };

  void Run();               // writer thread
  void Inspect();           // inspector thread
  void Release(Buffer* b);  // with mutex_ held
  int WriteOut(Buffer& b);  // writer thread; 0, or the errno of the failed write
  // 0, or the errno of the failed write.
  int PwriteAll(FileHandle fd, const uint8_t* data, size_t size, uint64_t at);
  bool Submit();       // hands the current buffer over, takes a free one
  Buffer* TakeFree();  // owner thread; waits for the writer when all are in flight

  const FileHandle fd_;
  FileHandle directFd_ = kNoFileHandle;  // writer thread (once started)
  std::atomic<bool> direct_{false};
  Hooks hooks_;

  std::vector<Buffer> buffers_;
  Buffer* current_ = nullptr;
  uint64_t next_ = 0;  // the file offset the next committed byte goes to

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Buffer*> queued_;      // for the writer, in order
  std::deque<Buffer*> inspecting_;  // for the inspector, in order
  std::deque<Buffer*> free_;
  bool closing_ = false;
  int error_ = 0;
  bool finished_ = false;
  std::thread writer_;
  std::thread inspector_;
};

}  // namespace os
