#include "AppendLog.h"

namespace demo {

AppendLog::~AppendLog() {
  if (file_) std::fclose(file_);
}

bool AppendLog::Open(const std::string& path) {
  if (path.empty()) return true;
  file_ = std::fopen(path.c_str(), "a");
  return file_ != nullptr;
}

void AppendLog::Append(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!file_) return;
  std::fputs(line.c_str(), file_);
  std::fputc('\n', file_);
  std::fflush(file_);
}

}  // namespace demo
