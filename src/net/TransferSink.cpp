#include "net/TransferSink.h"

#include "os/base/WriteAll.h"

SinkStatus StringSink::Write(const char* data, size_t size, int64_t announced) {
  // An announced length over the cap fails at the first block instead of after cap bytes.
  if (body_.empty() && announced > 0 && static_cast<uint64_t>(announced) > cap_) return SinkStatus::TooLarge;
  if (size > cap_ - body_.size()) return SinkStatus::TooLarge;
  body_.append(data, size);
  return SinkStatus::Ok;
}

SinkStatus FileSink::Write(const char* data, size_t size, int64_t) {
  const int error = os::WriteAll(fd_, data, size);
  if (error == 0) return SinkStatus::Ok;
  error_ = error;
  return SinkStatus::WriteFailed;
}
