#include "update/GrowingPackage.h"

#include <chrono>
#include <utility>

namespace {

// How often a waiting reader looks at its stop while nothing arrives.
constexpr std::chrono::milliseconds kStopPoll{50};

}  // namespace

GrowingPackage::GrowingPackage(std::string path, std::function<bool()> stop)
    : path_(std::move(path)), stop_(std::move(stop)) {}

void GrowingPackage::Advance(int64_t bytesInFile) {
  const uint64_t bytes = bytesInFile > 0 ? static_cast<uint64_t>(bytesInFile) : 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (bytes < available_) wentBack_ = true;
    available_ = bytes;
  }
  grown_.notify_all();
}

void GrowingPackage::End() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ended_ = true;
  }
  grown_.notify_all();
}

uint64_t GrowingPackage::WaitBeyond(uint64_t offset) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (true) {
    if (wentBack_) return 0;
    if (available_ > offset) return available_;
    if (ended_ || (stop_ && stop_())) return 0;
    const auto start = std::chrono::steady_clock::now();
    grown_.wait_for(lock, kStopPoll);
    waited_ += std::chrono::steady_clock::now() - start;
  }
}

bool GrowingPackage::ReadAt(void* buffer, size_t size, uint64_t offset) {
  auto* into = static_cast<uint8_t*>(buffer);
  while (size > 0) {
    const uint64_t end = WaitBeyond(offset);
    if (end == 0) return false;
    if (!file_.IsOpen()) {
      file_ = os::File::Open(path_, os::File::Access::Read);
      if (!file_.IsOpen()) return false;
    }
    const size_t part = end - offset < size ? static_cast<size_t>(end - offset) : size;
    if (file_.ReadAt(into, part, offset) != static_cast<int64_t>(part)) return false;
    into += part;
    offset += part;
    size -= part;
  }
  return true;
}

bool GrowingPackage::WaitFor(uint64_t end) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (available_ < end) {
    if (wentBack_ || ended_ || (stop_ && stop_())) return false;
    grown_.wait_for(lock, kStopPoll);
  }
  return !wentBack_;
}

void GrowingPackage::WaitForEnd() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!ended_ && !wentBack_ && !(stop_ && stop_())) {
    const auto start = std::chrono::steady_clock::now();
    grown_.wait_for(lock, kStopPoll);
    waited_ += std::chrono::steady_clock::now() - start;
  }
}

bool GrowingPackage::Intact() {
  std::lock_guard<std::mutex> lock(mutex_);
  return !wentBack_;
}

GrowingPackage::Extent GrowingPackage::Now() {
  std::lock_guard<std::mutex> lock(mutex_);
  return Extent{available_, ended_};
}

std::chrono::steady_clock::duration GrowingPackage::Waited() {
  std::lock_guard<std::mutex> lock(mutex_);
  return waited_;
}
