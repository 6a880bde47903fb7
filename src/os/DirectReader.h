// Reads a stretch of a large file in order, ahead of its consumer: a reader thread fills a few
// reused, aligned buffers straight from the disk (O_DIRECT), so reading a file that is not in the
// page cache costs no fresh page-cache pages (see DirectWriter.h for why that matters) and the next
// block is on its way while the consumer works on this one. Where the file system refuses direct
// reads, the same thread reads through the page cache.
//
// Owner thread: Next, Failed. The reader thread only fills buffers.
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

class DirectReader {
 public:
  enum class Mode {
    Direct,    // O_DIRECT where the file system takes it, else the page cache
    Buffered,  // the page cache
  };

  // Waits on the reader thread until the file holds its bytes up to the offset given (a file
  // still being written); false when they will never come, which fails the reading.
  using WaitFor = std::function<bool(uint64_t end)>;

  // Reads the bytes [begin, end) of the file open at fd (not owned, open for reading, kept open
  // while the reader lives; read with pread, so its offset is left alone). With waitFor, each
  // block is read only once the file holds it.
  DirectReader(FileHandle fd, uint64_t begin, uint64_t end, Mode mode, WaitFor waitFor = nullptr);
  ~DirectReader();  // stops the reader at its next block
  DirectReader(const DirectReader&) = delete;
  DirectReader& operator=(const DirectReader&) = delete;

  // The next bytes of the stretch, in order, valid until the next call; false at its end, or
  // when a read failed or the file ended inside the stretch (then Failed()).
  bool Next(const uint8_t*& data, size_t& size);
  bool Failed() const;
  bool Direct() const { return direct_.load(); }

 private:
  struct Buffer {
    DirectBlock data{nullptr, nullptr};
    size_t begin = 0;  // the stretch's bytes are [begin, end) of data
    size_t end = 0;
  };

  void Run();  // reader thread
  // Reader thread: fills b from the file at the aligned offset at; 0, or an errno (ENODATA when
  // the file ends too soon).
  int Fill(Buffer& b, uint64_t at, uint64_t want);

  const FileHandle fd_;
  FileHandle directFd_ = kNoFileHandle;  // reader thread (once started)
  std::atomic<bool> direct_{false};
  const uint64_t begin_;
  const uint64_t end_;
  const WaitFor waitFor_;

  std::vector<Buffer> buffers_;
  Buffer* held_ = nullptr;  // the one the consumer has

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Buffer*> filled_;  // in order
  std::deque<Buffer*> free_;
  bool done_ = false;  // the reader has handed over the last buffer, or failed
  bool stop_ = false;
  int error_ = 0;
  std::thread reader_;
};

}  // namespace os
