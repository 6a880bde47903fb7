#include "ui/win32/BrowserPage.h"

#include "browser/win32/WebBrowserHost.h"
#include "log/LauncherLog.h"
#include "ui/win32/ExternalDispatch.h"

namespace {

constexpr char kModule[] = "BrowserPage";
constexpr wchar_t kClass[] = L"VellmoraPage";

bool RegisterPageClass(HINSTANCE instance) {
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof existing;
  if (GetClassInfoExW(instance, kClass, &existing)) return true;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = DefWindowProcW;  // the page replaces it once its window exists
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = kClass;
  return RegisterClassExW(&wc) != 0;
}

}  // namespace

BrowserPage::BrowserPage(const PageHostParams& params)
    : host_(std::make_unique<WebBrowserHost>(params.openExternally)) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  if (!RegisterPageClass(instance)) {
    LogError("page window class: " + std::to_string(GetLastError()), "BrowserPage::BrowserPage", kModule, __LINE__);
    return;
  }
  const RECT& r = params.rect;
  window_ = CreateWindowExW(0, kClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, r.left, r.top,
                            r.right - r.left, r.bottom - r.top, params.parent,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(params.id)), instance, nullptr);
  if (!window_) {
    LogError("page window: " + std::to_string(GetLastError()), "BrowserPage::BrowserPage", kModule, __LINE__);
    return;
  }
  SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WindowProc));

  if (params.bridge) {
    WebBrowserHost* host = host_.get();
    external_ =
        std::make_unique<ExternalDispatch>(*params.bridge, host->Gate(), [host] { return host->CallerOrigin(); });
  }
  host_->Create(window_, external_.get());  // logs its own failure
}

// The control first: it lets go of the bridge object before that goes.
BrowserPage::~BrowserPage() {
  host_.reset();
  external_.reset();
  if (window_) {
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
  }
}

bool BrowserPage::HasControl() const { return host_ && host_->Created(); }

void BrowserPage::Navigate(const std::string& url) { host_->Navigate(url); }

// The control fills the page window whatever its size.
LRESULT CALLBACK BrowserPage::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* page = reinterpret_cast<BrowserPage*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (message == WM_SIZE && page && page->host_) {
    RECT area{0, 0, LOWORD(lParam), HIWORD(lParam)};
    page->host_->SetBounds(area);
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

std::unique_ptr<IPageHost> MakeBrowserPage(const PageHostParams& params) {
  auto page = std::make_unique<BrowserPage>(params);
  if (!page->Window()) return nullptr;
  return page;
}
