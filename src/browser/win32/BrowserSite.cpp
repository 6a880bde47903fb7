#include "browser/win32/BrowserSite.h"

#include "browser/win32/BrowserFrame.h"

namespace {

bool Down(SHORT state) { return (state & 0x8000) != 0; }

FilterKey FilterKeyOf(WPARAM virtualKey) {
  switch (virtualKey) {
    case VK_F5: return FilterKey::F5;
    case 'O': return FilterKey::O;
    case 'P': return FilterKey::P;
    case 'N': return FilterKey::N;
    default: return FilterKey::Other;
  }
}

}  // namespace

BrowserSite::BrowserSite(HWND window, IDispatch* external)
    : window_(window),
      external_(os::win32::ComRef<IDispatch>::Share(external)),
      frame_(os::win32::ComRef<BrowserFrame>::Adopt(new BrowserFrame(window))) {}

// Here, where the frame is a whole type.
BrowserSite::~BrowserSite() = default;

HRESULT STDMETHODCALLTYPE BrowserSite::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IOleClientSite)) {
    *out = static_cast<IOleClientSite*>(this);
  } else if (IsEqualIID(iid, IID_IOleWindow) || IsEqualIID(iid, IID_IOleInPlaceSite)) {
    *out = static_cast<IOleInPlaceSite*>(this);
  } else if (IsEqualIID(iid, IID_IDocHostUIHandler)) {
    *out = static_cast<IDocHostUIHandler*>(this);
  } else if (IsEqualIID(iid, kIidDocHostShowUI)) {
    *out = static_cast<IDocHostShowUI*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG STDMETHODCALLTYPE BrowserSite::AddRef() { return ++references_; }

ULONG STDMETHODCALLTYPE BrowserSite::Release() {
  const ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

// --- Client site: the control lives in this window for good; nothing is saved or linked.

HRESULT STDMETHODCALLTYPE BrowserSite::SaveObject() { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE BrowserSite::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
  if (moniker) *moniker = nullptr;
  return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE BrowserSite::GetContainer(IOleContainer** container) {
  if (container) *container = nullptr;
  return E_NOINTERFACE;
}
HRESULT STDMETHODCALLTYPE BrowserSite::ShowObject() { return S_OK; }
HRESULT STDMETHODCALLTYPE BrowserSite::OnShowWindow(BOOL) { return S_OK; }
HRESULT STDMETHODCALLTYPE BrowserSite::RequestNewObjectLayout() { return E_NOTIMPL; }

// --- In-place site: the control fills the window's client area.

HRESULT STDMETHODCALLTYPE BrowserSite::GetWindow(HWND* window) {
  if (!window) return E_POINTER;
  *window = window_;
  return S_OK;
}
HRESULT STDMETHODCALLTYPE BrowserSite::ContextSensitiveHelp(BOOL) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE BrowserSite::CanInPlaceActivate() { return S_OK; }
HRESULT STDMETHODCALLTYPE BrowserSite::OnInPlaceActivate() { return S_OK; }
HRESULT STDMETHODCALLTYPE BrowserSite::OnUIActivate() { return S_OK; }

HRESULT STDMETHODCALLTYPE BrowserSite::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                                                        RECT* position, RECT* clip, OLEINPLACEFRAMEINFO* info) {
  if (!frame || !document || !position || !clip || !info) return E_POINTER;
  frame_->AddRef();
  *frame = frame_.Get();
  *document = nullptr;  // the frame is the only window
  GetClientRect(window_, position);
  *clip = *position;
  info->fMDIApp = FALSE;
  info->hwndFrame = window_;
  info->haccel = nullptr;
  info->cAccelEntries = 0;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE BrowserSite::Scroll(SIZE) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE BrowserSite::OnUIDeactivate(BOOL) { return S_OK; }
HRESULT STDMETHODCALLTYPE BrowserSite::OnInPlaceDeactivate() { return S_OK; }
HRESULT STDMETHODCALLTYPE BrowserSite::DiscardUndoState() { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE BrowserSite::DeactivateAndUndo() { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE BrowserSite::OnPosRectChange(LPCRECT) { return E_NOTIMPL; }

// --- Document host: E_NOTIMPL leaves the browser's own default.

HRESULT STDMETHODCALLTYPE BrowserSite::ShowContextMenu(DWORD, POINT*, IUnknown*, IDispatch*) {
  return S_OK;  // handled: no menu
}

HRESULT STDMETHODCALLTYPE BrowserSite::GetHostInfo(DOCHOSTUIINFO* info) {
  if (!info) return E_POINTER;
  info->dwFlags = kHostFlags;
  info->dwDoubleClick = DOCHOSTUIDBLCLK_DEFAULT;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE BrowserSite::ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*, IOleInPlaceFrame*,
                                              IOleInPlaceUIWindow*) {
  return S_OK;  // the page shows no menus or tool bars of its own
}
HRESULT STDMETHODCALLTYPE BrowserSite::HideUI() { return S_OK; }
HRESULT STDMETHODCALLTYPE BrowserSite::UpdateUI() { return S_OK; }
HRESULT STDMETHODCALLTYPE BrowserSite::EnableModeless(BOOL) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE BrowserSite::OnDocWindowActivate(BOOL) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE BrowserSite::OnFrameWindowActivate(BOOL) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE BrowserSite::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) { return E_NOTIMPL; }

HeldKeys BrowserSite::HeldNow() {
  HeldKeys held;
  held.f5 = Down(GetAsyncKeyState(VK_F5));
  held.ctrl = Down(GetKeyState(VK_CONTROL));
  held.o = Down(GetAsyncKeyState('O'));
  held.p = Down(GetAsyncKeyState('P'));
  held.n = Down(GetAsyncKeyState('N'));
  return held;
}

bool BrowserSite::SwallowsKey(const MSG& message, HeldKeys held) {
  const bool keyDown = message.message == WM_KEYDOWN;
  if (keyDown) held = WithPressedKey(held, FilterKeyOf(message.wParam));
  return ShouldSwallowKey(keyDown, held);
}

HRESULT STDMETHODCALLTYPE BrowserSite::TranslateAccelerator(LPMSG message, const GUID*, DWORD) {
  if (!message) return S_FALSE;
  return SwallowsKey(*message, HeldNow()) ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE BrowserSite::GetOptionKeyPath(LPOLESTR* key, DWORD) {
  if (key) *key = nullptr;
  return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE BrowserSite::GetDropTarget(IDropTarget*, IDropTarget** target) {
  if (target) *target = nullptr;
  return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE BrowserSite::GetExternal(IDispatch** external) {
  if (!external) return E_POINTER;
  *external = external_.Get();
  if (!external_) return E_NOTIMPL;  // no bridge: the page's window.external stays empty
  external_->AddRef();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE BrowserSite::TranslateUrl(DWORD, LPWSTR, LPWSTR* translated) {
  if (translated) *translated = nullptr;
  return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE BrowserSite::FilterDataObject(IDataObject*, IDataObject** filtered) {
  if (filtered) *filtered = nullptr;
  return E_NOTIMPL;
}

// --- Script message boxes: alert and confirm alike, the page's caption and buttons ignored.

HRESULT STDMETHODCALLTYPE BrowserSite::ShowMessage(HWND owner, LPOLESTR text, LPOLESTR, DWORD, LPOLESTR, DWORD,
                                                   LRESULT*) {
  MessageBoxW(owner, text ? text : L"", L"提示", MB_OK | MB_ICONERROR);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE BrowserSite::ShowHelp(HWND, LPOLESTR, UINT, DWORD, POINT, IDispatch*) {
  return S_OK;  // no help
}
