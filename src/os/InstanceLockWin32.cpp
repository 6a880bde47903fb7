#include <windows.h>

#include "os/InstanceLock.h"
#include "os/base/Win32Text.h"

namespace os {

InstanceLock::~InstanceLock() { Release(); }

std::string InstanceLock::LockPath(const std::string& name) { return name; }

// CreateMutexW with default security, not owned: ERROR_ALREADY_EXISTS tells that another process
// holds one. The handle is not inheritable, so a started game never keeps the lock alive.
InstanceLock::Result InstanceLock::Acquire(const std::string& name) {
  Release();
  if (name.empty()) return Result::Error;
  HANDLE h = CreateMutexW(nullptr, FALSE, win32::Wide(name).c_str());
  if (!h) return GetLastError() == ERROR_ACCESS_DENIED ? Result::AlreadyExists : Result::Error;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(h);
    return Result::AlreadyExists;
  }
  mutex_ = h;
  return Result::Acquired;
}

void InstanceLock::Release() {
  if (mutex_) {
    CloseHandle(mutex_);
    mutex_ = nullptr;
  }
}

}  // namespace os
