#include "update/Sha256Digest.h"

#include <algorithm>
#include <vector>

Sha256Digest::Sha256Digest() { Reset(); }

void Sha256Digest::Reset() {
  ok_ = sha_.Reset();
  busy_ = std::chrono::nanoseconds(0);
}

void Sha256Digest::Add(const void* data, size_t size) {
  if (!ok_ || size == 0) return;
  const auto start = std::chrono::steady_clock::now();
  ok_ = sha_.Update(data, size);
  busy_ += std::chrono::steady_clock::now() - start;
}

bool Sha256Digest::AddFile(const os::File& file, int64_t length) { return AddRange(file, 0, length); }

bool Sha256Digest::AddRange(const os::File& file, int64_t offset, int64_t length) {
  std::vector<char> block(static_cast<size_t>(std::min<int64_t>(length, int64_t{1} << 20)));
  int64_t done = 0;
  while (ok_ && done < length) {
    const size_t want = static_cast<size_t>(std::min<int64_t>(length - done, static_cast<int64_t>(block.size())));
    const int64_t n = file.ReadAt(block.data(), want, static_cast<uint64_t>(offset + done));
    if (n <= 0) return false;  // an error, or the file ends before length
    Add(block.data(), static_cast<size_t>(n));
    done += n;
  }
  return ok_;
}

Sha256Digest::Value Sha256Digest::Current() const {
  Value value{};
  if (!sha_.Current(value)) value = Value{};
  return value;
}

std::string Sha256Digest::Hex(const Value& value) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(value.size() * 2);
  for (unsigned char b : value) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

Sha256Digest::FileResult Sha256Digest::OfFile(const std::string& path, Value& value,
                                              const std::function<bool()>& stopRequested) {
  const os::File file = os::File::Open(path, os::File::Access::Read);
  if (!file.IsOpen()) return FileResult::Unreadable;
  Sha256Digest digest;
  FileResult result = FileResult::Unreadable;
  const int64_t size = file.Size();
  if (size >= 0) {
    constexpr int64_t kBlock = 1 << 20;
    int64_t done = 0;
    result = FileResult::Ok;
    while (done < size) {
      if (stopRequested && stopRequested()) {
        result = FileResult::Stopped;
        break;
      }
      const int64_t length = std::min<int64_t>(kBlock, size - done);
      if (!digest.AddRange(file, done, length)) {
        result = FileResult::Unreadable;
        break;
      }
      done += length;
    }
    if (result == FileResult::Ok && !digest.Ok()) result = FileResult::Unreadable;
  }
  if (result == FileResult::Ok) value = digest.Current();
  return result;
}
