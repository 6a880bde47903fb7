#include "browser/win32/BrowserEvents.h"

#include <exdisp.h>
#include <exdispid.h>
#include <oleauto.h>

#include "os/base/Win32Text.h"

namespace {

// NewWindow3's flag for a window a user's click asked for (NWMF_USERINITIATED).
constexpr DWORD kUserInitiated = 0x2;

// A value as the control passes it: itself, or by reference (a VARIANT* among the arguments).
const VARIANT* Deref(const VARIANT& value) {
  if (V_VT(&value) == (VT_VARIANT | VT_BYREF)) return V_VARIANTREF(&value);
  return &value;
}

std::string TextOf(const VARIANT& value) {
  const VARIANT* v = Deref(value);
  if (!v) return {};
  BSTR text = nullptr;
  if (V_VT(v) == VT_BSTR) text = V_BSTR(v);
  if (V_VT(v) == (VT_BSTR | VT_BYREF) && V_BSTRREF(v)) text = *V_BSTRREF(v);
  return text ? os::win32::Narrow(text, SysStringLen(text)) : std::string();
}

DWORD NumberOf(const VARIANT& value) {
  VARIANT number;
  VariantInit(&number);
  DWORD result = 0;
  if (SUCCEEDED(VariantChangeType(&number, const_cast<VARIANT*>(Deref(value)), 0, VT_UI4))) result = V_UI4(&number);
  VariantClear(&number);
  return result;
}

IDispatch* DispatchOf(const VARIANT& value) {
  const VARIANT* v = Deref(value);
  if (v && V_VT(v) == VT_DISPATCH) return V_DISPATCH(v);
  return nullptr;
}

}  // namespace

HRESULT STDMETHODCALLTYPE BrowserEvents::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, DIID_DWebBrowserEvents2)) {
    *out = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE BrowserEvents::Release() {
  const ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

HRESULT STDMETHODCALLTYPE BrowserEvents::GetTypeInfoCount(UINT* count) {
  if (count) *count = 0;
  return S_OK;
}
HRESULT STDMETHODCALLTYPE BrowserEvents::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info) *info = nullptr;
  return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE BrowserEvents::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }

// Arguments arrive last first: rgvarg[0] is the event's last parameter.
HRESULT STDMETHODCALLTYPE BrowserEvents::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                                UINT*) {
  if (!params || !params->rgvarg) return S_OK;
  const VARIANT* args = params->rgvarg;
  switch (id) {
    case DISPID_NEWWINDOW3: {  // (ppDisp, Cancel, dwFlags, bstrUrlContext, bstrUrl)
      if (params->cArgs < 5) return S_OK;
      // Never a second window, whatever becomes of the address.
      if (V_VT(&args[3]) == (VT_BOOL | VT_BYREF) && V_BOOLREF(&args[3])) *V_BOOLREF(&args[3]) = VARIANT_TRUE;
      if (handler_) handler_->OnNewWindow(TextOf(args[0]), (NumberOf(args[2]) & kUserInitiated) != 0);
      return S_OK;
    }
    case DISPID_NAVIGATECOMPLETE2:  // (pDisp, URL)
    case DISPID_DOCUMENTCOMPLETE: {
      if (params->cArgs < 2 || !handler_) return S_OK;
      IDispatch* frame = DispatchOf(args[1]);
      const std::string url = TextOf(args[0]);
      if (id == DISPID_NAVIGATECOMPLETE2) {
        handler_->OnNavigateComplete(frame, url);
      } else {
        handler_->OnDocumentComplete(frame, url);
      }
      return S_OK;
    }
    default: return S_OK;
  }
}
