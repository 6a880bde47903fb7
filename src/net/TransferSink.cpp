#include "net/TransferSink.h"

#include <unistd.h>

#include <cerrno>

SinkStatus StringSink::Write(const char* data, size_t size, int64_t announced) {
  // An announced length over the cap fails at the first block instead of after cap bytes.
  if (body_.empty() && announced > 0 && static_cast<uint64_t>(announced) > cap_) return SinkStatus::TooLarge;
  if (size > cap_ - body_.size()) return SinkStatus::TooLarge;
  body_.append(data, size);
  return SinkStatus::Ok;
}

SinkStatus FileSink::Write(const char* data, size_t size, int64_t) {
  size_t written = 0;
  while (written < size) {
    ssize_t n = ::write(fd_, data + written, size - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error_ = n < 0 ? errno : EIO;
      return SinkStatus::WriteFailed;
    }
    written += static_cast<size_t>(n);
  }
  return SinkStatus::Ok;
}
