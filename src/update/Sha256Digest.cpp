#include "update/Sha256Digest.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

Sha256Digest::Sha256Digest() : ctx_(EVP_MD_CTX_new()) { Reset(); }

Sha256Digest::~Sha256Digest() { EVP_MD_CTX_free(ctx_); }

void Sha256Digest::Reset() {
  ok_ = ctx_ && EVP_DigestInit_ex(ctx_, EVP_sha256(), nullptr) == 1;
  busy_ = std::chrono::nanoseconds(0);
}

void Sha256Digest::Add(const void* data, size_t size) {
  if (!ok_ || size == 0) return;
  const auto start = std::chrono::steady_clock::now();
  ok_ = EVP_DigestUpdate(ctx_, data, size) == 1;
  busy_ += std::chrono::steady_clock::now() - start;
}

bool Sha256Digest::AddFile(int fd, int64_t length) { return AddRange(fd, 0, length); }

bool Sha256Digest::AddRange(int fd, int64_t offset, int64_t length) {
  std::vector<char> block(static_cast<size_t>(std::min<int64_t>(length, int64_t{1} << 20)));
  int64_t done = 0;
  while (ok_ && done < length) {
    const size_t want = static_cast<size_t>(std::min<int64_t>(length - done, static_cast<int64_t>(block.size())));
    ssize_t n = ::pread(fd, block.data(), want, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    Add(block.data(), static_cast<size_t>(n));
    done += n;
  }
  return ok_;
}

Sha256Digest::Value Sha256Digest::Current() const {
  Value value{};
  // Finish a copy, so the running digest can take more bytes.
  EVP_MD_CTX* copy = EVP_MD_CTX_new();
  unsigned size = 0;
  if (copy && EVP_MD_CTX_copy_ex(copy, ctx_) == 1) EVP_DigestFinal_ex(copy, value.data(), &size);
  EVP_MD_CTX_free(copy);
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
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return FileResult::Unreadable;
  Sha256Digest digest;
  FileResult result = FileResult::Unreadable;
  const off_t size = ::lseek(fd, 0, SEEK_END);
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
      if (!digest.AddRange(fd, done, length)) {
        result = FileResult::Unreadable;
        break;
      }
      done += length;
    }
    if (result == FileResult::Ok && !digest.Ok()) result = FileResult::Unreadable;
  }
  ::close(fd);
  if (result == FileResult::Ok) value = digest.Current();
  return result;
}
