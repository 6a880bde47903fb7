// A file that request records are appended to, one line each, flushed at once so that tests
// reading it see every request that has been answered. Any thread.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

namespace demo {

class AppendLog {
 public:
  AppendLog() = default;
  ~AppendLog();
  AppendLog(const AppendLog&) = delete;
  AppendLog& operator=(const AppendLog&) = delete;

  // Opens path for appending; an empty path leaves the log disabled. False when it cannot open.
  bool Open(const std::string& path);
  void Append(const std::string& line);

 private:
  std::mutex mutex_;
  std::FILE* file_ = nullptr;
};

}  // namespace demo
