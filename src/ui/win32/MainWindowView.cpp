#include "ui/win32/MainWindowView.h"

#include <algorithm>
#include <cstring>

#include "Identity.h"
#include "log/LauncherLog.h"
#include "os/base/Win32Text.h"
#include "ui/Layout.h"
#include "ui/win32/ContentView.h"

namespace {

constexpr char kModule[] = "MainWindowView";
constexpr wchar_t kClassName[] = L"VellmoraLauncher";
constexpr int kIconId = 132;
constexpr int kCursorId = 165;

}  // namespace

MainWindowView::MainWindowView(const std::string& resourceDir, std::function<void()> onSystemClose)
    : resourceDir_(resourceDir), onSystemClose_(std::move(onSystemClose)) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  icon_ = LoadIconW(instance, MAKEINTRESOURCEW(kIconId));
  cursor_ = static_cast<HCURSOR>(LoadImageW(instance, MAKEINTRESOURCEW(kCursorId), IMAGE_CURSOR, 0, 0, 0));
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.hIcon = icon_;
  wc.hIconSm = icon_;
  wc.hCursor = cursor_ ? cursor_ : LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = kClassName;
  RegisterClassExW(&wc);  // fails harmlessly when already registered

  background_ = Picture::Load(resourceDir_ + "/background.png");
  if (background_.Empty()) LogError("no background picture in " + resourceDir_, "MainWindowView", kModule, __LINE__);
  window_ = CreateWindowExW(WS_EX_LAYERED | WS_EX_APPWINDOW, kClassName, os::win32::Wide(identity::ProductName).c_str(),
                            WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT, CW_USEDEFAULT, layout::kWindowWidth,
                            layout::kWindowHeight, nullptr, nullptr, instance, this);
  if (!window_) {
    LogError("launcher window not created, error " + std::to_string(GetLastError()), "MainWindowView", kModule,
             __LINE__);
  }
}

MainWindowView::~MainWindowView() {
  if (window_) {
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
  }
}

// Once: the premultiplied picture goes into a 32-bit DIB section that becomes the window's pixels
// and, through their alpha, its shape (fully transparent pixels take no clicks).
bool MainWindowView::PaintLayered() {
  if (background_.Empty() || !window_) return false;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = background_.Width();
  info.bmiHeader.biHeight = -background_.Height();
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool done = false;
  if (memory && bitmap) {
    std::memcpy(bits, background_.Pixels(), static_cast<size_t>(background_.Width()) * background_.Height() * 4);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    SIZE size = {background_.Width(), background_.Height()};
    POINT source = {0, 0};
    BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    done = UpdateLayeredWindow(window_, screen, nullptr, &size, memory, &source, 0, &blend, ULW_ALPHA) != FALSE;
    if (!done) {
      LogError("UpdateLayeredWindow failed, error " + std::to_string(GetLastError()), "MainWindowView", kModule,
               __LINE__);
    }
    SelectObject(memory, previous);
  }
  if (bitmap) DeleteObject(bitmap);
  if (memory) DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return done;
}

POINT MainWindowView::CentredIn(const RECT& area, int width, int height) {
  POINT p;
  p.x = area.left + std::max(0L, (area.right - area.left - width) / 2);
  p.y = area.top + std::max(0L, (area.bottom - area.top - height) / 2);
  return p;
}

void MainWindowView::Show() {
  if (!window_) return;
  POINT pointer = {0, 0};
  GetCursorPos(&pointer);
  MONITORINFO monitor = {};
  monitor.cbSize = sizeof(monitor);
  if (GetMonitorInfoW(MonitorFromPoint(pointer, MONITOR_DEFAULTTOPRIMARY), &monitor)) {
    const POINT origin = CentredIn(monitor.rcWork, layout::kWindowWidth, layout::kWindowHeight);
    SetWindowPos(window_, nullptr, origin.x, origin.y, layout::kWindowWidth, layout::kWindowHeight,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
  PaintLayered();
  ShowWindow(window_, SW_SHOW);
  SetForegroundWindow(window_);
}

// Escape and Enter close nothing: their key-downs are swallowed before dispatch.
int MainWindowView::RunModal() {
  MSG msg;
  while (!ended_) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {
      PostQuitMessage(static_cast<int>(msg.wParam));  // for the loop further out
      if (!ended_) EndModal(2);
      break;
    }
    if (got < 0) break;
    if (msg.message == WM_KEYDOWN && (msg.wParam == VK_ESCAPE || msg.wParam == VK_RETURN)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return result_;
}

void MainWindowView::Hide() {
  if (window_) ShowWindow(window_, SW_HIDE);
}

void MainWindowView::Minimise() {
  if (window_) ShowWindow(window_, SW_MINIMIZE);
}

void MainWindowView::EndModal(int result) {
  if (ended_) return;
  ended_ = true;
  result_ = result;
  PostMessageW(window_, WM_NULL, 0, 0);  // the loop looks at ended_ once more
}

// Window handles fit in 32 bits on 64-bit Windows too, so the id survives any round trip.
unsigned long MainWindowView::NativeId() const {
  return static_cast<unsigned long>(reinterpret_cast<uintptr_t>(window_));
}

LRESULT CALLBACK MainWindowView::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
    auto* view = static_cast<MainWindowView*>(create->lpCreateParams);
    view->window_ = window;  // messages from here on are handled with the window known
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(view));
  }
  auto* self = reinterpret_cast<MainWindowView*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!self) return DefWindowProcW(window, message, wparam, lparam);
  return self->Handle(message, wparam, lparam);
}

LRESULT MainWindowView::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_NCHITTEST: {
      const LRESULT hit = DefWindowProcW(window_, message, wparam, lparam);
      return hit == HTCLIENT ? HTCAPTION : hit;  // dragging anywhere moves the window
    }
    case WM_MOVE: {
      const LRESULT r = DefWindowProcW(window_, message, wparam, lparam);
      if (content_) content_->FollowOwner();
      return r;
    }
    case WM_SHOWWINDOW: {
      const LRESULT r = DefWindowProcW(window_, message, wparam, lparam);
      if (content_) content_->ShowWithOwner(wparam != FALSE);
      return r;
    }
    case WM_SIZE:
      // Minimised and restored: the owned content window goes and comes with it.
      if (content_) content_->ShowWithOwner(wparam != SIZE_MINIMIZED && IsWindowVisible(window_));
      return 0;
    case WM_SETCURSOR:
      if (cursor_) {
        SetCursor(cursor_);
        return TRUE;
      }
      break;
    case WM_QUERYDRAGICON: return reinterpret_cast<LRESULT>(icon_);
    case WM_CLOSE:
      // Alt+F4 or the task bar's close: the run ends, the window is destroyed afterwards.
      if (onSystemClose_) onSystemClose_();
      return 0;
    case WM_COMMAND:
      if (LOWORD(wparam) == IDCANCEL) {
        if (onSystemClose_) onSystemClose_();
        return 0;
      }
      break;
  }
  return DefWindowProcW(window_, message, wparam, lparam);
}
