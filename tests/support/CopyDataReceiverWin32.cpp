#include "support/CopyDataReceiver.h"

CopyDataReceiver::CopyDataReceiver() {
  thread_ = std::thread([this] { Run(); });
  std::unique_lock<std::mutex> hold(lock_);
  changed_.wait(hold, [this] { return started_; });
}

CopyDataReceiver::~CopyDataReceiver() {
  if (window_) PostMessageW(window_, WM_CLOSE, 0, 0);
  thread_.join();
}

std::vector<CopyDataReceiver::Received> CopyDataReceiver::Messages() const {
  std::lock_guard<std::mutex> hold(lock_);
  return received_;
}

// The receiver's thread. A sender's SendMessage returns only after this has recorded the message.
LRESULT CALLBACK CopyDataReceiver::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<CopyDataReceiver*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (message == WM_COPYDATA && self) {
    const auto* copy = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    const auto* bytes = static_cast<const uint8_t*>(copy->lpData);
    std::lock_guard<std::mutex> hold(self->lock_);
    self->received_.push_back(Received{copy->dwData, wParam, std::vector<uint8_t>(bytes, bytes + copy->cbData)});
    return 1;
  }
  if (message == WM_CLOSE) {
    DestroyWindow(window);
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// The receiver's thread: makes the window, then runs its messages until it is closed.
void CopyDataReceiver::Run() {
  WNDCLASSW cls{};
  cls.lpfnWndProc = Proc;
  cls.hInstance = GetModuleHandleW(nullptr);
  cls.lpszClassName = L"VellmoraCopyDataReceiver";
  RegisterClassW(&cls);  // a second receiver finds the class registered
  HWND window =
      CreateWindowExW(0, cls.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, cls.hInstance, nullptr);
  if (window) SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  {
    std::lock_guard<std::mutex> hold(lock_);
    window_ = window;
    started_ = true;
  }
  changed_.notify_all();
  MSG msg;
  while (window && GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
}
