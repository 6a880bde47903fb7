#include "update/EntryCopier.h"

#include <cerrno>
#include <new>

#include "os/DirectReader.h"
#include "os/DirectWriter.h"

namespace {

// Internal sizes (no file, log line or peer sees them) for entries written through the page cache:
// reads of the stored bytes are large; the inflated block is small, so that the kernel copies it
// while it is still in the core's cache.
constexpr size_t kReadBlock = 256 * 1024;
constexpr size_t kWriteBlock = 32 * 1024;
// From this size on an entry is read and written past the page cache, beside the inflater: fresh
// page-cache pages cost more than the inflating itself on a virtual machine (see os/DirectWriter.h),
// and threads pay off only over many blocks.
constexpr uint64_t kLargeEntry = 8 * 1024 * 1024;

}  // namespace

EntryCopier::EntryCopier(const std::string& archivePath)
    : archive_(os::File::Open(archivePath, os::File::Access::Read)),
      inflater_(NewInflater()),
      in_(new (std::nothrow) uint8_t[kReadBlock]),
      out_(new (std::nothrow) uint8_t[kWriteBlock]) {
  archive_.AdviseSequential();
}

bool EntryCopier::Locate(unzFile zip, const unz_file_info64& info, Location& location) {
  // Opened raw, only to have minizip read the local header and say where the data starts.
  int method = 0;
  int level = 0;
  if (unzOpenCurrentFile2(zip, &method, &level, 1) != UNZ_OK) return false;
  location.offset = unzGetCurrentFileZStreamPos64(zip);
  unzCloseCurrentFile(zip);
  if (method != 0 && method != Z_DEFLATED) return false;
  location.method = method;
  location.storedSize = info.compressed_size;
  location.size = info.uncompressed_size;
  location.crc = static_cast<uint32_t>(info.crc);
  return true;
}

bool EntryCopier::Open(unzFile zip, const unz_file_info64& info) {
  if (!archive_.IsOpen() || !inflater_ || !in_ || !out_) return false;
  Location location;
  return Locate(zip, info, location) && Open(location);
}

bool EntryCopier::Open(const Location& location) {
  if (!archive_.IsOpen() || !inflater_ || !in_ || !out_) return false;
  method_ = location.method;
  offset_ = location.offset;
  storedLeft_ = location.storedSize;
  size_ = location.size;
  crc_ = location.crc;
  return true;
}

bool EntryCopier::Streams(const Location& location) {
  return location.size >= kLargeEntry || location.storedSize >= kLargeEntry;
}

EntryCopier::Result EntryCopier::CopyTo(os::File& out, const std::function<bool()>& stop) {
  writeError_ = 0;
  if (size_ >= kLargeEntry || storedLeft_ >= kLargeEntry) return CopyLarge(out, stop);
  return method_ == 0 ? CopyStored(out, stop) : CopyDeflated(out, stop);
}

bool EntryCopier::Read(uint8_t* buffer, size_t size) {
  // Short only when the archive ends inside the entry.
  if (archive_.ReadAt(buffer, size, offset_) != static_cast<int64_t>(size)) return false;
  offset_ += size;
  storedLeft_ -= size;
  return true;
}

EntryCopier::Result EntryCopier::CopyStored(os::File& out, const std::function<bool()>& stop) {
  if (storedLeft_ != size_) return Result::Failed;
  uint32_t crc = inflater_->UpdateCrc(0, nullptr, 0);
  while (storedLeft_ > 0) {
    if (stop && stop()) return Result::Stopped;
    const size_t n = storedLeft_ < kWriteBlock ? static_cast<size_t>(storedLeft_) : kWriteBlock;
    if (!Read(out_.get(), n)) return Result::Failed;
    crc = inflater_->UpdateCrc(crc, out_.get(), n);
    if ((writeError_ = out.Write(out_.get(), n)) != 0) return Result::Failed;
  }
  return crc == crc_ ? Result::Done : Result::Failed;
}

EntryCopier::Step EntryCopier::InflateInto(Inflater::Buffers& buffers, uint8_t* out, size_t room, bool inputEnded,
                                           uint64_t& produced, size_t& made) {
  const size_t inBefore = buffers.inSize;
  buffers.out = out;
  buffers.outSize = room;
  const Inflater::Status status = inflater_->Inflate(buffers);
  made = room - buffers.outSize;
  produced += made;
  // More than the directory announces is a corrupt entry: nothing past the size is kept.
  const bool tooLong = produced > size_;
  if (tooLong) made -= static_cast<size_t>(produced - size_);
  if (tooLong || status == Inflater::Status::Corrupt) return Step::Failed;
  if (status == Inflater::Status::StreamEnd)
    return produced == size_ && inflater_->Crc() == crc_ ? Step::Done : Step::Failed;
  // No progress possible: the stream is cut short or broken.
  if (made == 0 && buffers.inSize == inBefore && (buffers.inSize > 0 || inputEnded)) return Step::Failed;
  return Step::More;
}

EntryCopier::Result EntryCopier::CopyDeflated(os::File& out, const std::function<bool()>& stop) {
  if (!inflater_->Reset()) return Result::Failed;
  uint64_t produced = 0;
  Inflater::Buffers buffers;
  while (true) {
    if (stop && stop()) return Result::Stopped;
    if (buffers.inSize == 0 && storedLeft_ > 0) {
      const size_t n = storedLeft_ < kReadBlock ? static_cast<size_t>(storedLeft_) : kReadBlock;
      if (!Read(in_.get(), n)) return Result::Failed;
      buffers.in = in_.get();
      buffers.inSize = n;
    }
    size_t made = 0;
    const Step step = InflateInto(buffers, out_.get(), kWriteBlock, storedLeft_ == 0, produced, made);
    // What was inflated before a failure is written, as a plain copy would have.
    if (made > 0 && (writeError_ = out.Write(out_.get(), made)) != 0) return Result::Failed;
    if (step != Step::More) return step == Step::Done ? Result::Done : Result::Failed;
  }
}

EntryCopier::Result EntryCopier::CopyLarge(os::File& out, const std::function<bool()>& stop) {
  if (method_ == 0 && storedLeft_ != size_) return Result::Failed;
  if (method_ != 0 && !inflater_->Reset()) return Result::Failed;
  os::DirectReader reader(archive_.Handle(), offset_, offset_ + storedLeft_, os::DirectReader::Mode::Direct);
  os::DirectWriter writer(out.Handle(), 0, os::DirectWriter::Mode::Direct);
  // Every way out waits for the writer, so that what was handed to it is in the file.
  const auto finish = [this, &writer](Result result) {
    const bool written = writer.Finish();
    if (writer.Failed()) writeError_ = writer.Error() != 0 ? writer.Error() : EIO;
    return result == Result::Done && !written ? Result::Failed : result;
  };
  uint64_t produced = 0;
  uint32_t storedCrc = inflater_->UpdateCrc(0, nullptr, 0);
  Inflater::Buffers buffers;
  bool inputEnded = false;
  while (true) {
    if (stop && stop()) return finish(Result::Stopped);
    if (buffers.inSize == 0 && !inputEnded) {
      const uint8_t* data = nullptr;
      size_t size = 0;
      if (reader.Next(data, size)) {
        buffers.in = data;
        buffers.inSize = size;
        offset_ += size;
        storedLeft_ -= size;
      } else if (reader.Failed()) {
        return finish(Result::Failed);
      } else {
        inputEnded = true;
      }
    }
    if (method_ == 0) {
      if (inputEnded) return finish(storedCrc == crc_ ? Result::Done : Result::Failed);
      storedCrc = inflater_->UpdateCrc(storedCrc, buffers.in, buffers.inSize);
      if (!writer.Append(buffers.in, buffers.inSize)) return finish(Result::Failed);
      buffers.inSize = 0;
      continue;
    }
    size_t room = 0;
    uint8_t* into = writer.Room(room);
    if (!into) {
      writeError_ = ENOMEM;  // no buffer memory, unless the writer names a failed write below
      return finish(Result::Failed);
    }
    size_t made = 0;
    const Step step = InflateInto(buffers, into, room, inputEnded, produced, made);
    if (made > 0 && !writer.Commit(made)) return finish(Result::Failed);
    if (step != Step::More) return finish(step == Step::Done ? Result::Done : Result::Failed);
  }
}
