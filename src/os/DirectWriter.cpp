#include "os/DirectWriter.h"

#include <cerrno>
#include <cstring>

#include "os/CrashHandler.h"
#include "os/DirectBlock.h"

namespace os {

namespace {

// Three blocks: one being filled, one being written (and inspected), one spare so the producer
// rarely waits.
constexpr size_t kBufferCount = 3;

}  // namespace

DirectWriter::DirectWriter(FileHandle fd, uint64_t offset, Mode mode, Hooks hooks)
    : fd_(fd), hooks_(std::move(hooks)), next_(offset) {
  if (mode == Mode::Direct) directFd_ = OpenDirect(fd, true);
  direct_ = directFd_ != kNoFileHandle;
  buffers_.resize(kBufferCount);
  for (Buffer& b : buffers_) {
    b.data = NewDirectBlock();
    if (!b.data) {
      error_ = ENOMEM;
      return;
    }
    free_.push_back(&b);
  }
  writer_ = std::thread(&DirectWriter::Run, this);
  if (hooks_.inspect) inspector_ = std::thread(&DirectWriter::Inspect, this);
}

DirectWriter::~DirectWriter() {
  Finish();
  CloseDirect(directFd_);
}

uint8_t* DirectWriter::Room(size_t& size) {
  if (Failed()) return nullptr;
  if (current_ && current_->end == kDirectBlockSize && !Submit()) return nullptr;
  if (!current_) {
    current_ = TakeFree();
    if (!current_) return nullptr;
    // The buffer maps the aligned stretch of the file that holds the next byte, so that its
    // aligned part can be written from aligned memory.
    current_->base = AlignDown(next_);
    current_->begin = current_->end = static_cast<size_t>(next_ - current_->base);
  }
  size = kDirectBlockSize - current_->end;
  return current_->data.get() + current_->end;
}

bool DirectWriter::Commit(size_t n) {
  if (!current_ || n > kDirectBlockSize - current_->end) return false;
  current_->end += n;
  next_ += n;
  if (current_->end == kDirectBlockSize) return Submit();
  return !Failed();
}

bool DirectWriter::Append(const void* data, size_t size) {
  const uint8_t* from = static_cast<const uint8_t*>(data);
  while (size > 0) {
    size_t room = 0;
    uint8_t* to = Room(room);
    if (!to) return false;
    const size_t n = size < room ? size : room;
    std::memcpy(to, from, n);
    if (!Commit(n)) return false;
    from += n;
    size -= n;
  }
  return !Failed();
}

bool DirectWriter::Flush() {
  if (current_ && current_->end > current_->begin) return Submit();
  return !Failed();
}

bool DirectWriter::Submit() {
  Buffer* b = current_;
  current_ = nullptr;
  if (b->end == b->begin) {
    std::lock_guard<std::mutex> lock(mutex_);
    free_.push_back(b);
    return error_ == 0;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  b->users = inspector_.joinable() ? 2 : 1;
  queued_.push_back(b);
  if (inspector_.joinable()) inspecting_.push_back(b);
  changed_.notify_all();
  return error_ == 0;
}

void DirectWriter::Release(Buffer* b) {
  if (--b->users == 0) free_.push_back(b);
  changed_.notify_all();
}

DirectWriter::Buffer* DirectWriter::TakeFree() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return !free_.empty() || error_ != 0 || !writer_.joinable(); });
  if (error_ != 0 || free_.empty()) return nullptr;
  Buffer* b = free_.front();
  free_.pop_front();
  return b;
}

bool DirectWriter::Finish() {
  if (finished_) return !Failed();
  finished_ = true;
  if (current_) Submit();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
    changed_.notify_all();
  }
  if (writer_.joinable()) writer_.join();
  if (inspector_.joinable()) inspector_.join();
  return !Failed();
}

bool DirectWriter::Failed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return error_ != 0;
}

int DirectWriter::Error() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return error_;
}

void DirectWriter::Run() {
  ThreadSignalStack signalStack;
  while (true) {
    Buffer* b = nullptr;
    bool failed = false;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return !queued_.empty() || closing_; });
      if (queued_.empty()) return;
      b = queued_.front();
      queued_.pop_front();
      failed = error_ != 0;
    }
    // After a failure nothing more is written: the file ends at the last byte that made it.
    const int error = failed ? 0 : WriteOut(*b);
    std::lock_guard<std::mutex> lock(mutex_);
    if (error != 0 && error_ == 0) error_ = error;
    Release(b);
  }
}

void DirectWriter::Inspect() {
  ThreadSignalStack signalStack;
  while (true) {
    Buffer* b = nullptr;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return !inspecting_.empty() || closing_; });
      if (inspecting_.empty()) return;
      b = inspecting_.front();
      inspecting_.pop_front();
    }
    hooks_.inspect(b->data.get() + b->begin, b->end - b->begin);
    std::lock_guard<std::mutex> lock(mutex_);
    Release(b);
  }
}

int DirectWriter::WriteOut(Buffer& b) {
  const uint8_t* data = b.data.get();
  const uint64_t begin = b.base + b.begin;
  const uint64_t end = b.base + b.end;
  // Only the first buffer can start, and only the last can end, inside an aligned block: those
  // pieces go through the page cache, the aligned middle past it.
  const uint64_t alignedBegin = directFd_ != kNoFileHandle ? AlignUp(begin) : end;
  const uint64_t alignedEnd = directFd_ != kNoFileHandle ? AlignDown(end) : end;
  struct Piece {
    uint64_t from, to;
    bool direct;
  };
  Piece pieces[3] = {{begin, alignedBegin < end ? alignedBegin : end, false},
                     {alignedBegin, alignedEnd, true},
                     {alignedEnd > alignedBegin ? alignedEnd : alignedBegin, end, false}};
  for (const Piece& p : pieces) {
    if (p.to <= p.from) continue;
    const uint8_t* from = data + (p.from - b.base);
    const size_t size = static_cast<size_t>(p.to - p.from);
    int error = PwriteAll(p.direct ? directFd_ : fd_, from, size, p.from);
    // A device with a larger block than assumed, or a file system without direct I/O, refuses
    // the direct write: this and every later one go through the page cache.
    if (error != 0 && p.direct && DirectRefused(error)) {
      CloseDirect(directFd_);
      directFd_ = kNoFileHandle;
      direct_ = false;
      error = PwriteAll(fd_, from, size, p.from);
    }
    if (error != 0) return error;
    if (hooks_.written) hooks_.written(from, size);
  }
  return 0;
}

int DirectWriter::PwriteAll(FileHandle fd, const uint8_t* data, size_t size, uint64_t at) {
  while (size > 0) {
    int error = EIO;
    const int64_t n = PositionedWrite(fd, data, size, at, &error);
    if (n < 0) return error;
    if (n == 0) return EIO;  // no progress: never spin on it
    data += n;
    size -= static_cast<size_t>(n);
    at += static_cast<uint64_t>(n);
  }
  return 0;
}

}  // namespace os
