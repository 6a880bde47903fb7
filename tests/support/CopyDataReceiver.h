// A message-only window on a thread of its own that records the WM_COPYDATA messages it receives:
// the window a caller names when it sends the show-window message. Windows test builds only; any
// thread may read what it received.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

class CopyDataReceiver {
 public:
  struct Received {
    ULONG_PTR kind = 0;  // dwData
    WPARAM sender = 0;   // the sending window, as wParam gives it
    std::vector<uint8_t> payload;
  };

  // Returns once the window exists (or could not be made: Window() is null then).
  CopyDataReceiver();
  ~CopyDataReceiver();
  CopyDataReceiver(const CopyDataReceiver&) = delete;
  CopyDataReceiver& operator=(const CopyDataReceiver&) = delete;

  HWND Window() const { return window_; }
  // What arrived so far, in order.
  std::vector<Received> Messages() const;

 private:
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void Run();

  std::thread thread_;
  mutable std::mutex lock_;
  std::condition_variable changed_;
  bool started_ = false;
  HWND window_ = nullptr;
  std::vector<Received> received_;
};
