// The single-instance lock (the named mutex of the original design): an flock on
// "<name>.lock" in $XDG_RUNTIME_DIR when that is the user's private directory, else in the prefix;
// never in a directory other users can write, where one of them could hold the lock and block
// every start. The kernel releases it when the holder dies. On Windows it is the named mutex
// itself ("qvx" in the session's namespace, not initially owned): it exists while a process holds
// a handle to it, and the system closes that handle when the process ends.
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
#ifdef _WIN32
  bool Held() const { return mutex_ != nullptr; }
#else
  bool Held() const { return fd_ >= 0; }
#endif

  // The lock file's path; on Windows the mutex's name.
  static std::string LockPath(const std::string& name);

 private:
#ifdef _WIN32
  void* mutex_ = nullptr;  // the mutex's HANDLE
#else
  int fd_ = -1;
#endif
};

}  // namespace os
