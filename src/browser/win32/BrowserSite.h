// The browser control's site: what makes the page behave like part of the launcher. Client site
// and in-place site in the window that holds the control (with a frame that shows no menus or
// tool bars of its own), and the document host answers: no context menu, no 3-D border and no
// scroll bars, the refresh/open/print/new-window keys swallowed (browser/KeyFilter.h), script
// alerts and confirms as one OK-only error box captioned "提示", and the launcher's bridge as the
// page's window.external. A COM object: it frees itself on its last Release. UI thread only.
#pragma once

#include <docobj.h>
#include <mshtmhst.h>
#include <ole2.h>
#include <oleidl.h>
#include <windows.h>

#include "browser/KeyFilter.h"
#include "os/base/ComRef.h"

class BrowserFrame;

// IDocHostShowUI's interface id, which the cross compiler's uuid library lacks.
inline constexpr IID kIidDocHostShowUI = {0xC4D244B0, 0xD43E, 0x11CF, {0x89, 0x3B, 0x00, 0xAA, 0x00, 0xBD, 0xCE, 0x1A}};

class BrowserSite final : public IOleClientSite,
                          public IOleInPlaceSite,
                          public IDocHostUIHandler,
                          public IDocHostShowUI {
 public:
  // window holds the control; external is the page's window.external (held for the site's life).
  BrowserSite(HWND window, IDispatch* external);
  BrowserSite(const BrowserSite&) = delete;
  BrowserSite& operator=(const BrowserSite&) = delete;

  // The DOCHOSTUIFLAG bits of GetHostInfo: no 3-D border, no scroll bars.
  static constexpr DWORD kHostFlags = 0x4 | 0x8;

  // What the key filter makes of a key message and the keys held down: true swallows it.
  static bool SwallowsKey(const MSG& message, HeldKeys held);
  // The keys the keyboard holds down now (F5 and the letters as the system reads them, Ctrl as
  // the message queue saw it).
  static HeldKeys HeldNow();

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IOleClientSite
  HRESULT STDMETHODCALLTYPE SaveObject() override;
  HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** moniker) override;
  HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** container) override;
  HRESULT STDMETHODCALLTYPE ShowObject() override;
  HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override;
  HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override;

  // IOleWindow, IOleInPlaceSite
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override;
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override;
  HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override;
  HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override;
  HRESULT STDMETHODCALLTYPE OnUIActivate() override;
  HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, RECT* position,
                                             RECT* clip, OLEINPLACEFRAMEINFO* info) override;
  HRESULT STDMETHODCALLTYPE Scroll(SIZE) override;
  HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) override;
  HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override;
  HRESULT STDMETHODCALLTYPE DiscardUndoState() override;
  HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override;
  HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT) override;

  // IDocHostUIHandler
  HRESULT STDMETHODCALLTYPE ShowContextMenu(DWORD, POINT*, IUnknown*, IDispatch*) override;
  HRESULT STDMETHODCALLTYPE GetHostInfo(DOCHOSTUIINFO* info) override;
  HRESULT STDMETHODCALLTYPE ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*, IOleInPlaceFrame*,
                                   IOleInPlaceUIWindow*) override;
  HRESULT STDMETHODCALLTYPE HideUI() override;
  HRESULT STDMETHODCALLTYPE UpdateUI() override;
  HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override;
  HRESULT STDMETHODCALLTYPE OnDocWindowActivate(BOOL) override;
  HRESULT STDMETHODCALLTYPE OnFrameWindowActivate(BOOL) override;
  HRESULT STDMETHODCALLTYPE ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override;
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG message, const GUID*, DWORD) override;
  HRESULT STDMETHODCALLTYPE GetOptionKeyPath(LPOLESTR* key, DWORD) override;
  HRESULT STDMETHODCALLTYPE GetDropTarget(IDropTarget*, IDropTarget** target) override;
  HRESULT STDMETHODCALLTYPE GetExternal(IDispatch** external) override;
  HRESULT STDMETHODCALLTYPE TranslateUrl(DWORD, LPWSTR, LPWSTR* translated) override;
  HRESULT STDMETHODCALLTYPE FilterDataObject(IDataObject*, IDataObject** filtered) override;

  // IDocHostShowUI
  HRESULT STDMETHODCALLTYPE ShowMessage(HWND owner, LPOLESTR text, LPOLESTR, DWORD, LPOLESTR, DWORD, LRESULT*) override;
  HRESULT STDMETHODCALLTYPE ShowHelp(HWND, LPOLESTR, UINT, DWORD, POINT, IDispatch*) override;

 private:
  ~BrowserSite();

  ULONG references_ = 1;  // the creator's
  HWND window_;
  os::win32::ComRef<IDispatch> external_;
  os::win32::ComRef<BrowserFrame> frame_;
};
