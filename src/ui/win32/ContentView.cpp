#include "ui/win32/ContentView.h"

#include "controls/win32/SkinnedWindows.h"
#include "log/LauncherLog.h"
#include "os/base/Win32Text.h"
#include "ui/Layout.h"

namespace {

constexpr char kModule[] = "ContentView";
constexpr wchar_t kClassName[] = L"VellmoraContent";

void RegisterClassOnce() {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = DefWindowProcW;  // replaced per window below
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));  // keyed out
  wc.lpszClassName = kClassName;
  RegisterClassExW(&wc);
}

}  // namespace

ContentView::ContentView(const std::string& resourceDir, HWND owner, Actions actions)
    : resourceDir_(resourceDir), owner_(owner), actions_(std::move(actions)) {
  RegisterClassOnce();
  window_ = CreateWindowExW(WS_EX_LAYERED, kClassName, L"", WS_POPUP, 0, 0, layout::kWindowWidth, layout::kWindowHeight,
                            owner, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!window_) {
    LogError("content window not created, error " + std::to_string(GetLastError()), "ContentView", kModule, __LINE__);
    return;
  }
  SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WindowProc));
  // Every pure black pixel is transparent, and clicks there reach the main window below.
  SetLayeredWindowAttributes(window_, RGB(0, 0, 0), 0, LWA_COLORKEY);
  cursor_ = static_cast<HCURSOR>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(165), IMAGE_CURSOR, 0, 0, 0));

  // The launcher's bar: one colour (so 255 bands), dark blue behind, no percentage text.
  bar_.SetRange(0, 100);
  bar_.SetPos(0);
  bar_.SetStartColor(0xFF8400);
  bar_.SetEndColor(0xFF8400);
  bar_.SetBkColor(0x77382A);
  bar_.ShowPercent(false);
  labels_.SetTextColor(0xFFFFFF);
  labels_.status.SetWindowText("正在更新......");
  labels_.progressText.SetWindowText("0%");
  labels_.message.SetWindowText("正在更新.....");

  const layout::Rect& b = layout::kProgressBar;
  barWindow_ = NewProgressWindow(window_, kIdProgressBar, b.x, b.y, b.w, b.h, &bar_);
  const layout::Rect& s = layout::kStatusLabel;
  statusWindow_ = NewLabelWindow(window_, kIdStatusLabel, s.x, s.y, s.w, s.h, &labels_.status);
  const layout::Rect& p = layout::kProgressText;
  progressTextWindow_ = NewLabelWindow(window_, kIdProgressText, p.x, p.y, p.w, p.h, &labels_.progressText);
  const layout::Rect& m = layout::kMessageText;
  messageWindow_ = NewLabelWindow(window_, kIdMessageText, m.x, m.y, m.w, m.h, &labels_.message);

  const std::string minimiseFace = resourceDir_ + "/btn-minimise.png";
  const std::string closeFace = resourceDir_ + "/btn-close.png";
  minimise_.LoadFaces(minimiseFace, minimiseFace, minimiseFace, minimiseFace);
  close_.LoadFaces(closeFace, closeFace, closeFace, closeFace);
  minimise_.clickAction = [this] {
    if (actions_.minimise) actions_.minimise();
  };
  close_.clickAction = [this] {
    if (actions_.close) actions_.close();
  };
  minimiseWindow_ =
      NewPngButtonWindow(window_, kIdMinimiseButton, layout::kMinimiseButton.x, layout::kMinimiseButton.y, &minimise_);
  closeWindow_ = NewPngButtonWindow(window_, kIdCloseButton, layout::kCloseButton.x, layout::kCloseButton.y, &close_);
  // What a screen reader says for the buttons (the launcher speaks Chinese).
  SetWindowTextW(minimiseWindow_, L"最小化");
  SetWindowTextW(closeWindow_, L"关闭");
  taskBar_.Attach(owner_);
}

ContentView::~ContentView() {
  page_.reset();
  if (window_) {
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
  }
}

void ContentView::CreatePage(const PageHostFactory& factory, PageHostParams params) {
  if (!factory) {
    LogInfo("no page host: the launcher runs without its page", "ContentView::CreatePage", kModule, __LINE__);
    return;
  }
  const layout::Rect& r = layout::kBrowser;
  params.parent = window_;
  params.id = kIdBrowser;
  params.rect = RECT{r.x, r.y, r.x + r.w, r.y + r.h};
  page_ = factory(params);
  if (!page_) LogError("the page host was not created", "ContentView::CreatePage", kModule, __LINE__);
}

void ContentView::FollowOwner() {
  RECT r;
  if (!window_ || !GetWindowRect(owner_, &r)) return;
  SetWindowPos(window_, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top, SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(window_, nullptr, FALSE);
}

void ContentView::ShowWithOwner(bool shown) {
  if (!window_) return;
  if (shown) FollowOwner();
  ShowWindow(window_, shown ? SW_SHOWNA : SW_HIDE);
}

LRESULT CALLBACK ContentView::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* self = reinterpret_cast<ContentView*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    // Clicks outside the controls go on to the main window, which drags the launcher.
    case WM_NCHITTEST: return HTTRANSPARENT;
    case WM_SETCURSOR:
      if (self && self->cursor_) {
        SetCursor(self->cursor_);
        return TRUE;
      }
      break;
    case WM_MOUSEWHEEL:
      // No zooming of the page with Ctrl and the wheel.
      if (GET_KEYSTATE_WPARAM(wparam) == MK_CONTROL) return 0;
      break;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

HWND ContentView::ControlWindow(int controlId) const {
  switch (controlId) {
    case kIdProgressBar: return barWindow_;
    case kIdProgressText: return progressTextWindow_;
    case kIdStatusLabel: return statusWindow_;
    case kIdMessageText: return messageWindow_;
    case kIdBrowser: return page_ ? page_->Window() : nullptr;
    case kIdMinimiseButton: return minimiseWindow_;
    case kIdCloseButton: return closeWindow_;
    default: return nullptr;
  }
}

std::string ContentView::ControlText(int controlId) const { return labels_.Text(controlId); }

void ContentView::SetControlText(int controlId, const std::string& text) {
  CStaticEx* label = labels_.Find(controlId);
  HWND w = ControlWindow(controlId);
  if (label && w) SetLabelText(w, label, text.c_str());
}

void ContentView::SetControlVisible(int controlId, bool visible) {
  if (HWND w = ControlWindow(controlId)) ShowWindow(w, visible ? SW_SHOWNA : SW_HIDE);
  // The task bar shows the percentage exactly while the window's bar does.
  if (controlId == kIdProgressBar) taskBar_.SetVisible(visible);
}

void ContentView::SetProgressPos(int pos) {
  bar_.SetPos(pos);
  if (barWindow_) InvalidateRect(barWindow_, nullptr, FALSE);
  taskBar_.SetPercent(pos);
}

void ContentView::Navigate(const std::string& url) {
  if (page_) {
    page_->Navigate(url);
  } else {
    LogInfo("no page to open " + url, "ContentView::Navigate", kModule, __LINE__);
  }
}

void ContentView::OnReadyChanged(bool ready) {
  if (page_) page_->OnReadyChanged(ready);
}
