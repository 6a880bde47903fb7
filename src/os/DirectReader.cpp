#include "os/DirectReader.h"

#include <cerrno>
#include <utility>

#include "os/CrashHandler.h"
#include "os/DirectBlock.h"

namespace os {

namespace {

// Two blocks: one with the consumer, one being read (measured: more read ahead gained nothing).
constexpr size_t kBufferCount = 2;

}  // namespace

DirectReader::DirectReader(FileHandle fd, uint64_t begin, uint64_t end, Mode mode, WaitFor waitFor)
    : fd_(fd), begin_(begin), end_(end < begin ? begin : end), waitFor_(std::move(waitFor)) {
  if (fd_ == kNoFileHandle) {
    error_ = EBADF;
    done_ = true;
    return;
  }
  if (mode == Mode::Direct) directFd_ = OpenDirect(fd_, false);
  direct_ = directFd_ != kNoFileHandle;
  buffers_.resize(kBufferCount);
  for (Buffer& b : buffers_) {
    b.data = NewDirectBlock();
    if (!b.data) {
      error_ = ENOMEM;
      done_ = true;
      return;
    }
    free_.push_back(&b);
  }
  reader_ = std::thread(&DirectReader::Run, this);
}

DirectReader::~DirectReader() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
    changed_.notify_all();
  }
  if (reader_.joinable()) reader_.join();
  CloseDirect(directFd_);
}

bool DirectReader::Next(const uint8_t*& data, size_t& size) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (held_) {
    free_.push_back(held_);
    held_ = nullptr;
    changed_.notify_all();
  }
  changed_.wait(lock, [&] { return !filled_.empty() || done_; });
  // A failure is reported when the consumer reaches it, not before the bytes read ahead of it.
  if (filled_.empty()) return false;
  held_ = filled_.front();
  filled_.pop_front();
  data = held_->data.get() + held_->begin;
  size = held_->end - held_->begin;
  return true;
}

bool DirectReader::Failed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return error_ != 0;
}

void DirectReader::Run() {
  ThreadSignalStack signalStack;
  // Blocks start on aligned offsets; the first holds the bytes before begin in its head.
  uint64_t at = direct_ ? AlignDown(begin_) : begin_;
  while (at < end_) {
    Buffer* b = nullptr;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return !free_.empty() || stop_; });
      if (stop_) return;
      b = free_.front();
      free_.pop_front();
    }
    const int error = Fill(*b, at, end_ - at);
    std::lock_guard<std::mutex> lock(mutex_);
    if (error != 0) {
      error_ = error;
      done_ = true;
      free_.push_back(b);
      changed_.notify_all();
      return;
    }
    at += b->end;
    b->begin = at - b->end < begin_ ? static_cast<size_t>(begin_ - (at - b->end)) : 0;
    filled_.push_back(b);
    changed_.notify_all();
  }
  std::lock_guard<std::mutex> lock(mutex_);
  done_ = true;
  changed_.notify_all();
}

int DirectReader::Fill(Buffer& b, uint64_t at, uint64_t want) {
  // A direct read asks for whole blocks; the file's end makes it short, which is fine past end_.
  size_t ask = want < kDirectBlockSize ? static_cast<size_t>(want) : kDirectBlockSize;
  if (direct_) ask = static_cast<size_t>(AlignUp(ask));
  // A file being written: the bytes this block needs are waited for, what follows them is not.
  if (waitFor_ && !waitFor_(at + (want < ask ? want : ask))) return ECANCELED;
  size_t got = 0;
  while (got < ask) {
    // A short read says nothing about the file's end (a network or user-space file system may
    // return less than asked anywhere); only an empty one does. A direct read needs an aligned
    // offset, so after a short one off a block boundary the rest of this block comes through the
    // page cache.
    const bool direct = direct_ && got % kDirectAlign == 0;
    int error = EIO;
    const int64_t n = PositionedRead(direct ? directFd_ : fd_, b.data.get() + got, ask - got, at + got, &error);
    if (n < 0 && direct && DirectRefused(error)) {
      // A device with a larger block than assumed, or no direct I/O: read on through the page cache.
      direct_ = false;
      continue;
    }
    if (n < 0) return error;
    if (n == 0) break;  // the file's end
    got += static_cast<size_t>(n);
  }
  const size_t needed = want < ask ? static_cast<size_t>(want) : ask;
  if (got < needed) return ENODATA;  // the file ends inside the stretch
  b.end = needed;
  return 0;
}

}  // namespace os
