#include "browser/win32/WebBrowserHost.h"

#include <oleauto.h>
#include <shellapi.h>

#include "browser/WebOrigin.h"
#include "browser/win32/BrowserSite.h"
#include "log/LauncherLog.h"
#include "os/CodePage.h"
#include "os/base/Win32Text.h"

using os::win32::ComRef;

namespace {

constexpr char kModule[] = "WebBrowserHost";

std::string Hex(HRESULT hr) {
  char text[16];
  snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(hr));
  return text;
}

// A BSTR that frees itself.
struct Bstr {
  explicit Bstr(const std::string& utf8) {
    const std::wstring wide = os::win32::Wide(utf8);
    text = SysAllocStringLen(wide.c_str(), static_cast<UINT>(wide.size()));
  }
  Bstr() = default;
  ~Bstr() { SysFreeString(text); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR text = nullptr;
};

}  // namespace

WebBrowserHost::WebBrowserHost(UriOpener openExternally, Shown shown)
    : openExternally_(std::move(openExternally)), shown_(std::move(shown)) {
  if (!openExternally_) openExternally_ = OpenWithDefaultBrowser;
}

WebBrowserHost::~WebBrowserHost() { Destroy(); }

bool WebBrowserHost::Create(HWND parent, IDispatch* external) {
  Destroy();
  site_ = ComRef<BrowserSite>::Adopt(new BrowserSite(parent, external));
  HRESULT hr = CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject, ole_.OutVoid());
  if (FAILED(hr)) {
    LogError("the browser control was not created: " + Hex(hr), "WebBrowserHost::Create", kModule, __LINE__);
    Destroy();
    return false;
  }
  // The site first: the control asks it for the document host answers while it activates.
  ole_->SetClientSite(site_.Get());
  RECT area{};
  GetClientRect(parent, &area);
  hr = ole_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site_.Get(), 0, parent, &area);
  if (SUCCEEDED(hr)) hr = ole_->QueryInterface(IID_IWebBrowser2, browser_.OutVoid());
  if (FAILED(hr)) {
    LogError("the browser control was not activated: " + Hex(hr), "WebBrowserHost::Create", kModule, __LINE__);
    Destroy();
    return false;
  }

  events_ = ComRef<BrowserEvents>::Adopt(new BrowserEvents(this));
  ComRef<IConnectionPointContainer> points;
  hr = browser_->QueryInterface(IID_IConnectionPointContainer, points.OutVoid());
  if (SUCCEEDED(hr)) hr = points->FindConnectionPoint(DIID_DWebBrowserEvents2, eventPoint_.Out());
  if (SUCCEEDED(hr)) hr = eventPoint_->Advise(events_.Get(), &eventCookie_);
  if (FAILED(hr)) {
    // Without events nothing opens elsewhere and the page never shows: no half-working page.
    LogError("the browser control's events are out of reach: " + Hex(hr), "WebBrowserHost::Create", kModule, __LINE__);
    eventPoint_.Reset();
    Destroy();
    return false;
  }
  if (HWND control = ControlWindow()) ShowWindow(control, SW_HIDE);
  keys_ = std::make_unique<ThreadKeyHook>([this](MSG& message) { return TranslateKey(message); });
  return true;
}

void WebBrowserHost::Destroy() {
  keys_.reset();
  if (events_) events_->Detach();
  if (eventPoint_) eventPoint_->Unadvise(eventCookie_);
  eventPoint_.Reset();
  eventCookie_ = 0;
  browser_.Reset();
  if (ole_) {
    ole_->Close(OLECLOSE_NOSAVE);
    ole_->SetClientSite(nullptr);
  }
  ole_.Reset();
  events_.Reset();
  site_.Reset();
  awaitingEntry_ = false;
}

HWND WebBrowserHost::ControlWindow() const {
  if (!ole_) return nullptr;
  ComRef<IOleInPlaceObject> inPlace;
  HWND window = nullptr;
  if (SUCCEEDED(ole_->QueryInterface(IID_IOleInPlaceObject, inPlace.OutVoid())) && inPlace) {
    if (FAILED(inPlace->GetWindow(&window))) window = nullptr;
  }
  return window;
}

void WebBrowserHost::Navigate(const std::string& url) {
  gate_.Trust(browser::OriginOfUrl(url));
  if (!browser_) {
    LogError("no browser control to open " + os::TruncateUtf16(url, 2000), "WebBrowserHost::Navigate", kModule,
             __LINE__);
    return;
  }
  awaitingEntry_ = true;
  Bstr address(url);
  VARIANT absent;
  VariantInit(&absent);
  const HRESULT hr = browser_->Navigate(address.text, &absent, &absent, &absent, &absent);
  if (FAILED(hr)) {
    awaitingEntry_ = false;
    LogError(os::TruncateUtf16("Navigate " + Hex(hr) + " " + url, 2047), "WebBrowserHost::Navigate", kModule, __LINE__);
  }
}

void WebBrowserHost::SetBounds(const RECT& bounds) {
  if (!ole_) return;
  ComRef<IOleInPlaceObject> inPlace;
  if (SUCCEEDED(ole_->QueryInterface(IID_IOleInPlaceObject, inPlace.OutVoid())) && inPlace) {
    inPlace->SetObjectRects(&bounds, &bounds);
  }
}

bool WebBrowserHost::TranslateKey(MSG& message) {
  if (!browser_ || message.message < WM_KEYFIRST || message.message > WM_KEYLAST) return false;
  const HWND control = ControlWindow();
  if (!control || (message.hwnd != control && !IsChild(control, message.hwnd))) return false;
  ComRef<IOleInPlaceActiveObject> active;
  if (FAILED(browser_->QueryInterface(IID_IOleInPlaceActiveObject, active.OutVoid())) || !active) return false;
  return active->TranslateAccelerator(&message) == S_OK;
}

std::string WebBrowserHost::CallerOrigin() const {
  if (!browser_) return {};
  Bstr location;
  if (FAILED(browser_->get_LocationURL(&location.text)) || !location.text) return {};
  return browser::OriginOfUrl(os::win32::Narrow(location.text, SysStringLen(location.text)));
}

void WebBrowserHost::OpenWithDefaultBrowser(const std::string& uri) {
  const std::wstring wide = os::win32::Wide(uri);
  const auto result =
      reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  if (result <= 32) {
    LogError(os::TruncateUtf16("open " + uri + " failed: " + std::to_string(result), 2047),
             "WebBrowserHost::OpenWithDefaultBrowser", kModule, __LINE__);
  }
}

bool WebBrowserHost::IsTopLevel(IDispatch* frame) const {
  if (!frame || !browser_) return false;
  ComRef<IUnknown> a, b;
  if (FAILED(frame->QueryInterface(IID_IUnknown, a.OutVoid())) ||
      FAILED(browser_->QueryInterface(IID_IUnknown, b.OutVoid()))) {
    return false;
  }
  return a.Get() == b.Get();
}

void WebBrowserHost::OnNewWindow(const std::string& url, bool userInitiated) {
  const NewWindowGate::Decision decision = newWindows_.Decide(url, userInitiated, OpenBudget::Clock::now());
  if (decision.open) {
    openExternally_(url);
  } else if (!decision.logLine.empty()) {
    LogError(decision.logLine, "WebBrowserHost::OnNewWindow", kModule, __LINE__);
  }
}

// The login page's origin is where the top-level navigation to it ends, past the server's
// redirects; the control reports it before the document's scripts run.
void WebBrowserHost::OnNavigateComplete(IDispatch* frame, const std::string& url) {
  if (!awaitingEntry_ || !IsTopLevel(frame) || url.rfind("about:", 0) == 0) return;
  awaitingEntry_ = false;
  const std::string origin = browser::OriginOfUrl(url);
  if (origin != gate_.TrustedOrigin()) {
    LogInfo(os::TruncateUtf16("the login page answered from " + (origin.empty() ? url : origin), 2047),
            "WebBrowserHost::OnNavigateComplete", kModule, __LINE__);
    gate_.Trust(origin);
  }
}

void WebBrowserHost::OnDocumentComplete(IDispatch* frame, const std::string&) {
  if (shownOnce_ || !IsTopLevel(frame)) return;
  READYSTATE state = READYSTATE_UNINITIALIZED;
  if (FAILED(browser_->get_ReadyState(&state)) || state != READYSTATE_COMPLETE) return;
  shownOnce_ = true;
  awaitingEntry_ = false;  // ended without a navigation report (a failed load): nothing more to learn
  if (HWND control = ControlWindow()) ShowWindow(control, SW_SHOW);
  if (shown_) shown_();
}
