// Writes blocks to a file descriptor on a thread of its own, in the order they were handed over,
// so that the next block can be filled (inflated) while the previous one is being written. The
// blocks come from a fixed pool, so memory stays the same whatever the package's size.
// Acquire, Submit, Release and Finish: the update worker (one thread); the writing: the writer's
// own thread, started at the first Submit and joined by the destructor.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class BlockWriter {
 public:
  struct Block {
    uint8_t* data = nullptr;
    size_t size = 0;  // bytes in use
  };

  BlockWriter(size_t blockSize, size_t blockCount);
  ~BlockWriter();
  BlockWriter(const BlockWriter&) = delete;
  BlockWriter& operator=(const BlockWriter&) = delete;

  // False when the blocks could not be allocated; nothing else may be called then.
  bool Ready() const { return !blocks_.empty(); }
  size_t BlockSize() const { return blockSize_; }

  // An empty block to fill; waits while every block is queued for writing.
  Block* Acquire();
  // Queues the block's bytes to be appended to fd, after everything queued before.
  void Submit(Block* block, int fd);
  // Writes the block's bytes to fd at once, on the calling thread, when nothing is queued
  // (saves the hand-over for small entries); otherwise queues it like Submit.
  void SubmitOrWrite(Block* block, int fd);
  // Gives back a block that will not be written.
  void Release(Block* block);
  // Waits until everything queued has been written. False when any write failed since the last
  // Finish (later blocks of that file are then dropped instead of written).
  bool Finish();
  // True once a write has failed (until the next Finish); lets the caller stop early.
  bool Failed();

 private:
  struct Job {
    Block* block;
    int fd;
  };
  void Run();
  static bool WriteAll(int fd, const uint8_t* data, size_t size);

  const size_t blockSize_;
  std::unique_ptr<uint8_t[]> memory_;
  std::vector<Block> blocks_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Block*> free_;
  std::deque<Job> queue_;
  bool writing_ = false;  // the writer thread holds a job
  bool failed_ = false;
  bool stop_ = false;
  std::thread thread_;
};
