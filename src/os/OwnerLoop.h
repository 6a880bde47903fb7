// The event loop of the thread that makes an owner object: watches and timers attached to it run
// on that thread while it runs its loop, and any thread can wake it. On Linux the loop is the
// thread's GLib main context (its thread-default one, else the global default one).
#pragma once

#include <functional>

namespace os {

// A watch or a timer on an owner loop. Removing it (or destroying the object) takes it off the
// loop: its function runs no more. Owner's thread; a function may remove its own source while it
// runs, and removing one that already ended itself is harmless.
class LoopSource {
 public:
  LoopSource() = default;
  ~LoopSource() { Remove(); }
  LoopSource(LoopSource&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
  LoopSource& operator=(LoopSource&& other) noexcept;
  LoopSource(const LoopSource&) = delete;
  LoopSource& operator=(const LoopSource&) = delete;

  void Remove();
  bool Attached() const { return handle_ != nullptr; }

 private:
  friend class OwnerLoop;
  explicit LoopSource(void* handle) : handle_(handle) {}
  void* handle_ = nullptr;  // the platform's source
};

class OwnerLoop {
 public:
  // The calling thread's loop; held until the object goes.
  OwnerLoop();
  ~OwnerLoop();
  OwnerLoop(const OwnerLoop&) = delete;
  OwnerLoop& operator=(const OwnerLoop&) = delete;

  // Any thread: makes the loop look at its watches again soon.
  void Wake();

  // Any thread. True when the calling thread may run what belongs to the loop now: it runs the
  // loop, or nobody does and the caller holds it until Release (then the loop's own thread waits).
  bool Acquire();
  void Release();

  // Owner's thread. Runs run on the loop whenever ready() returns true: ready is asked at every
  // turn of the loop and after every Wake. name shows in the platform's diagnostics.
  LoopSource Watch(const char* name, std::function<bool()> ready, std::function<void()> run);

  // Owner's thread. Runs tick on the loop every periodMs until tick returns false.
  LoopSource Timer(unsigned periodMs, std::function<bool()> tick);

  // The platform's handle of the loop (the GMainContext), to tell loops apart.
  void* Handle() const { return handle_; }

 private:
  void* handle_;
};

}  // namespace os
