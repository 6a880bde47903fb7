// The single-instance lock (the named mutex of the original design): an flock on
// "<name>.lock" in $XDG_RUNTIME_DIR when that is the user's private directory, else in the prefix;
// never in a directory other users can write, where one of them could hold the lock and block
// every start. The kernel releases it when the holder dies.
#pragma once

#include <string>

namespace os {

class InstanceLock {
 public:
  enum class Result { Acquired, AlreadyExists, Error };

  InstanceLock() = default;
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // Takes the lock named name. AlreadyExists when another process holds it.
  Result Acquire(const std::string& name);
  void Release();
  bool Held() const { return fd_ >= 0; }

  static std::string LockPath(const std::string& name);

 private:
  int fd_ = -1;
};

}  // namespace os
