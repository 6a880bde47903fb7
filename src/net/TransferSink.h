// Where the body of a transfer goes. PerformTransfer (HttpTransfer.h) hands every block of the
// final response's body to one sink, on the thread that runs the transfer; a sink that refuses a
// block ends the transfer, and its reason comes back in the result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum class SinkStatus {
  Ok,           // keep going
  TooLarge,     // the body is longer than the sink takes
  WriteFailed,  // the bytes could not be stored
  Cancelled,    // the caller no longer wants the body
};

class TransferSink {
 public:
  virtual ~TransferSink() = default;

  // Transfer thread, once per block, in order. announced is the body length the response
  // announced (Content-Length; for a resumed transfer the rest from the offset), -1 when it
  // announced none.
  virtual SinkStatus Write(const char* data, size_t size, int64_t announced) = 0;
};

// Keeps the body in memory, at most cap bytes; a longer body (announced or received) ends the
// transfer as TooLarge before the string grows past the cap.
class StringSink final : public TransferSink {
 public:
  explicit StringSink(size_t cap) : cap_(cap) {}

  SinkStatus Write(const char* data, size_t size, int64_t announced) override;

  const std::string& Body() const { return body_; }
  std::string TakeBody() { return std::move(body_); }

 private:
  const size_t cap_;
  std::string body_;
};

// Writes the body straight to a descriptor the caller owns (no user-space buffer). A failed
// write ends the transfer as WriteFailed and keeps its errno.
class FileSink final : public TransferSink {
 public:
  explicit FileSink(int fd) : fd_(fd) {}

  SinkStatus Write(const char* data, size_t size, int64_t announced) override;

  int Error() const { return error_; }  // errno of the failed write, 0 when none failed

 private:
  const int fd_;
  int error_ = 0;
};

// Takes the body and keeps nothing (requests whose answer does not matter).
class DiscardSink final : public TransferSink {
 public:
  SinkStatus Write(const char*, size_t, int64_t) override { return SinkStatus::Ok; }
};
