#include "update/EntryCopier.h"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <new>

namespace {

// Internal sizes (no file, log line or peer sees them): large enough that reads, writes and
// inflater calls are few, small enough that memory stays flat and blocks stay in the caches.
constexpr size_t kReadBlock = 1 << 20;
constexpr size_t kWriteBlock = 1 << 20;
constexpr size_t kWriteBlocks = 4;

}  // namespace

EntryCopier::EntryCopier(const std::string& archivePath)
    : archive_(::open(archivePath.c_str(), O_RDONLY | O_CLOEXEC)),
      inflater_(NewInflater()),
      in_(new (std::nothrow) uint8_t[kReadBlock]),
      writer_(kWriteBlock, kWriteBlocks) {
  if (archive_ >= 0) posix_fadvise(archive_, 0, 0, POSIX_FADV_SEQUENTIAL);
}

EntryCopier::~EntryCopier() {
  if (archive_ >= 0) ::close(archive_);
}

bool EntryCopier::Open(unzFile zip, const unz_file_info64& info) {
  if (archive_ < 0 || !inflater_ || !in_ || !writer_.Ready()) return false;
  // Opened raw, only to have minizip read the local header and say where the data starts.
  int method = 0;
  int level = 0;
  if (unzOpenCurrentFile2(zip, &method, &level, 1) != UNZ_OK) return false;
  offset_ = unzGetCurrentFileZStreamPos64(zip);
  unzCloseCurrentFile(zip);
  if (method != 0 && method != Z_DEFLATED) return false;
  method_ = method;
  storedLeft_ = info.compressed_size;
  size_ = info.uncompressed_size;
  crc_ = static_cast<uint32_t>(info.crc);
  pending_ = nullptr;
  pendingSize_ = 0;
  return true;
}

bool EntryCopier::CopyTo(int fd) {
  const bool copied = method_ == 0 ? CopyStored(fd) : CopyDeflated(fd);
  const bool written = writer_.Finish();
  return copied && written;
}

bool EntryCopier::ReadMore() {
  const size_t want = storedLeft_ < kReadBlock ? static_cast<size_t>(storedLeft_) : kReadBlock;
  size_t got = 0;
  while (got < want) {
    const ssize_t n = ::pread(archive_, in_.get() + got, want - got, static_cast<off_t>(offset_));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;  // an error, or the archive ends inside the entry
    got += static_cast<size_t>(n);
    offset_ += static_cast<uint64_t>(n);
  }
  storedLeft_ -= got;
  pending_ = in_.get();
  pendingSize_ = got;
  return true;
}

// Stored entries: read straight into the write blocks.
bool EntryCopier::CopyStored(int fd) {
  if (storedLeft_ != size_) return false;
  uint32_t crc = inflater_->UpdateCrc(0, nullptr, 0);
  while (storedLeft_ > 0) {
    if (writer_.Failed()) return false;
    BlockWriter::Block* block = writer_.Acquire();
    const size_t want = storedLeft_ < writer_.BlockSize() ? static_cast<size_t>(storedLeft_) : writer_.BlockSize();
    while (block->size < want) {
      const ssize_t n = ::pread(archive_, block->data + block->size, want - block->size, static_cast<off_t>(offset_));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        writer_.Release(block);
        return false;
      }
      block->size += static_cast<size_t>(n);
      offset_ += static_cast<uint64_t>(n);
    }
    storedLeft_ -= want;
    crc = inflater_->UpdateCrc(crc, block->data, block->size);
    if (storedLeft_ == 0) {
      writer_.SubmitOrWrite(block, fd);
    } else {
      writer_.Submit(block, fd);
    }
  }
  return crc == crc_;
}

bool EntryCopier::CopyDeflated(int fd) {
  if (!inflater_->Reset()) return false;
  uint64_t produced = 0;
  BlockWriter::Block* block = writer_.Acquire();
  while (true) {
    if (pendingSize_ == 0 && storedLeft_ > 0 && !ReadMore()) break;
    Inflater::Buffers buffers;
    buffers.in = pending_;
    buffers.inSize = pendingSize_;
    buffers.out = block->data + block->size;
    buffers.outSize = writer_.BlockSize() - block->size;
    const Inflater::Status status = inflater_->Inflate(buffers);
    const size_t consumed = pendingSize_ - buffers.inSize;
    const size_t made = writer_.BlockSize() - block->size - buffers.outSize;
    pending_ = buffers.in;
    pendingSize_ = buffers.inSize;
    block->size += made;
    produced += made;
    // More than the directory announces is a corrupt entry: nothing past the size is written.
    if (produced > size_) {
      block->size -= static_cast<size_t>(produced - size_);
      break;
    }
    if (status == Inflater::Status::Corrupt) break;
    const bool end = status == Inflater::Status::StreamEnd;
    if (end) {
      writer_.SubmitOrWrite(block, fd);
      return produced == size_ && inflater_->Crc() == crc_;
    }
    if (block->size == writer_.BlockSize()) {
      writer_.Submit(block, fd);
      if (writer_.Failed()) return false;
      block = writer_.Acquire();
    } else if (consumed == 0 && made == 0 && (pendingSize_ > 0 || storedLeft_ == 0)) {
      break;  // no progress possible: the stream is cut short or broken
    }
  }
  // What was inflated before the failure is written, as a plain copy would have.
  writer_.SubmitOrWrite(block, fd);
  return false;
}
