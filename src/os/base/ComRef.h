// One reference to a COM object, released when it goes: the one holder of COM references in the
// Windows files. Windows files only; any thread that may use the object.
#pragma once

#include <unknwn.h>

#include <utility>

namespace os::win32 {

template <class T>
class ComRef {
 public:
  ComRef() = default;
  ~ComRef() { Reset(); }
  ComRef(const ComRef& other) : p_(other.p_) {
    if (p_) p_->AddRef();
  }
  ComRef& operator=(const ComRef& other) {
    if (this != &other) {
      if (other.p_) other.p_->AddRef();
      Reset();
      p_ = other.p_;
    }
    return *this;
  }
  ComRef(ComRef&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComRef& operator=(ComRef&& other) noexcept {
    if (this != &other) {
      Reset();
      p_ = std::exchange(other.p_, nullptr);
    }
    return *this;
  }

  // Takes over a reference the caller already holds (a new object, an out parameter).
  static ComRef Adopt(T* p) {
    ComRef r;
    r.p_ = p;
    return r;
  }
  // Takes a reference of its own to an object someone else holds.
  static ComRef Share(T* p) {
    if (p) p->AddRef();
    return Adopt(p);
  }

  void Reset() {
    if (p_) std::exchange(p_, nullptr)->Release();
  }
  // For out parameters: the old reference goes first.
  T** Out() {
    Reset();
    return &p_;
  }
  void** OutVoid() { return reinterpret_cast<void**>(Out()); }

  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

}  // namespace os::win32
