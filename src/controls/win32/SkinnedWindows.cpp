#include "controls/win32/SkinnedWindows.h"

#include <string>

#include "controls/CGradientProgressCtrl.h"
#include "controls/CPngButton.h"
#include "controls/CStaticEx.h"
#include "controls/win32/GdiPainter.h"
#include "os/base/Win32Text.h"

namespace {

constexpr wchar_t kProgressClass[] = L"VellmoraSkinnedProgress";
constexpr wchar_t kLabelClass[] = L"VellmoraSkinnedLabel";
constexpr wchar_t kButtonClass[] = L"VellmoraSkinnedButton";

template <typename Control>
Control* ControlOf(HWND window) {
  return reinterpret_cast<Control*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

// Paints into a memory bitmap first (over the keyed-out black), then copies it in one go.
template <typename PaintFn>
void PaintBuffered(HWND window, PaintFn paint) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window, &ps);
  RECT client;
  GetClientRect(window, &client);
  HDC memory = CreateCompatibleDC(dc);
  HBITMAP bitmap = CreateCompatibleBitmap(dc, client.right, client.bottom);
  if (memory && bitmap) {
    HGDIOBJ previous = SelectObject(memory, bitmap);
    FillRect(memory, &client, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    {
      GdiPainter painter(memory);
      paint(painter, client.right, client.bottom);
    }
    BitBlt(dc, 0, 0, client.right, client.bottom, memory, 0, 0, SRCCOPY);
    SelectObject(memory, previous);
  }
  if (bitmap) DeleteObject(bitmap);
  if (memory) DeleteDC(memory);
  EndPaint(window, &ps);
}

LRESULT CALLBACK ProgressProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_ERASEBKGND: return 1;
    case WM_PAINT:
      if (auto* bar = ControlOf<CGradientProgressCtrl>(window)) {
        PaintBuffered(window, [bar](Painter& p, int w, int h) { bar->Paint(p, w, h); });
        return 0;
      }
      break;
    case WM_NCHITTEST: return HTTRANSPARENT;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

LRESULT CALLBACK LabelProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_ERASEBKGND: return 1;
    case WM_PAINT:
      if (auto* label = ControlOf<CStaticEx>(window)) {
        PaintBuffered(window, [label](Painter& p, int w, int h) { label->Paint(p, w, h); });
        return 0;
      }
      break;
    case WM_NCHITTEST: return HTTRANSPARENT;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

void Repaint(HWND window, bool needed) {
  if (needed) InvalidateRect(window, nullptr, FALSE);
}

LRESULT CALLBACK ButtonProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* button = ControlOf<CPngButton>(window);
  if (!button) return DefWindowProcW(window, message, wparam, lparam);
  switch (message) {
    case WM_ERASEBKGND: return 1;
    case WM_PAINT: PaintBuffered(window, [button](Painter& p, int, int) { button->Paint(p); }); return 0;
    case WM_MOUSEMOVE: {
      TRACKMOUSEEVENT track = {sizeof(track), TME_LEAVE, window, 0};
      TrackMouseEvent(&track);
      Repaint(window, button->OnMouseMove());
      return 0;
    }
    case WM_MOUSELEAVE: Repaint(window, button->OnMouseLeave()); return 0;
    case WM_LBUTTONDOWN:
      SetCapture(window);
      Repaint(window, button->OnLButtonDown());
      return 0;
    case WM_LBUTTONUP: {
      if (GetCapture() == window) ReleaseCapture();
      // The click action may end the launcher's run; the window is still there for the repaint.
      Repaint(window, button->OnLButtonUp());
      return 0;
    }
    case WM_ENABLE: Repaint(window, button->OnEnable(wparam != FALSE)); return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

void RegisterOnce(const wchar_t* name, WNDPROC proc) {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = nullptr;  // the parent's cursor shows (WM_SETCURSOR goes up to it)
  wc.lpszClassName = name;
  RegisterClassExW(&wc);  // fails harmlessly when already registered
}

HWND NewChild(const wchar_t* className, WNDPROC proc, HWND parent, int id, int x, int y, int width, int height,
              void* control) {
  RegisterOnce(className, proc);
  HWND window = CreateWindowExW(0, className, L"", WS_CHILD, x, y, width, height, parent,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
  if (window) SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(control));
  return window;
}

}  // namespace

HWND NewProgressWindow(HWND parent, int id, int x, int y, int width, int height, CGradientProgressCtrl* bar) {
  return NewChild(kProgressClass, ProgressProc, parent, id, x, y, width, height, bar);
}

HWND NewLabelWindow(HWND parent, int id, int x, int y, int width, int height, CStaticEx* label) {
  HWND window = NewChild(kLabelClass, LabelProc, parent, id, x, y, width, height, label);
  if (window) SetWindowTextW(window, os::win32::Wide(label->GetWindowText()).c_str());
  return window;
}

void SetLabelText(HWND window, CStaticEx* label, const char* utf8) {
  label->SetWindowText(utf8);
  SetWindowTextW(window, os::win32::Wide(CStaticEx::ParseMnemonics(utf8).text).c_str());
  InvalidateRect(window, nullptr, FALSE);
}

HWND NewPngButtonWindow(HWND parent, int id, int x, int y, CPngButton* button) {
  HWND window = NewChild(kButtonClass, ButtonProc, parent, id, x, y, CPngButton::kWidth, CPngButton::kHeight, button);
  if (window) ShowWindow(window, SW_SHOWNA);
  return window;
}
