#include "update/BlockWriter.h"

#include <unistd.h>
#include <cerrno>
#include <new>

BlockWriter::BlockWriter(size_t blockSize, size_t blockCount)
    : blockSize_(blockSize), memory_(new (std::nothrow) uint8_t[blockSize * blockCount]) {
  if (!memory_) return;
  blocks_.resize(blockCount);
  for (size_t i = 0; i < blockCount; ++i) {
    blocks_[i].data = memory_.get() + i * blockSize;
    free_.push_back(&blocks_[i]);
  }
}

BlockWriter::~BlockWriter() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

BlockWriter::Block* BlockWriter::Acquire() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return !free_.empty(); });
  Block* block = free_.back();
  free_.pop_back();
  block->size = 0;
  return block;
}

void BlockWriter::Submit(Block* block, int fd) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(Job{block, fd});
    if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
  }
  changed_.notify_all();
}

void BlockWriter::SubmitOrWrite(Block* block, int fd) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!queue_.empty() || writing_) {
      queue_.push_back(Job{block, fd});
      changed_.notify_all();
      return;
    }
  }
  // Nothing in flight: this thread is the only writer of fd right now.
  const bool ok = WriteAll(fd, block->data, block->size);
  std::lock_guard<std::mutex> lock(mutex_);
  if (!ok) failed_ = true;
  free_.push_back(block);
  changed_.notify_all();
}

void BlockWriter::Release(Block* block) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    free_.push_back(block);
  }
  changed_.notify_all();
}

bool BlockWriter::Finish() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return queue_.empty() && !writing_; });
  const bool ok = !failed_;
  failed_ = false;
  return ok;
}

bool BlockWriter::Failed() {
  std::lock_guard<std::mutex> lock(mutex_);
  return failed_;
}

// Writer thread.
void BlockWriter::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (true) {
    changed_.wait(lock, [this] { return stop_ || !queue_.empty(); });
    if (queue_.empty()) return;  // stopping, and nothing left
    const Job job = queue_.front();
    queue_.pop_front();
    writing_ = true;
    const bool skip = failed_;  // a file whose write failed gets nothing more
    lock.unlock();
    const bool ok = skip || WriteAll(job.fd, job.block->data, job.block->size);
    lock.lock();
    if (!ok) failed_ = true;
    writing_ = false;
    free_.push_back(job.block);
    changed_.notify_all();
  }
}

// Any thread. Appends the bytes, through short writes and interruptions.
bool BlockWriter::WriteAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}
