#include "ui/win32/ExternalDispatch.h"

#include <oleauto.h>

#include <variant>

#include "browser/BridgeGate.h"
#include "log/LauncherLog.h"
#include "os/base/Win32Text.h"
#include "ui/CImpIDispatch.h"

namespace {

constexpr char kModule[] = "ExternalDispatch";

// How many of the script's arguments a method reads (its last ones); fewer make the call do nothing.
UINT ArgumentsRead(DISPID id) {
  switch (id) {
    case CImpIDispatch::kJavascriptToCsharp: return 2;
    case CImpIDispatch::kAppLogin: return 1;
    default: return 0;
  }
}

bool BstrToText(BSTR text, std::string& out) {
  const UINT length = text ? SysStringLen(text) : 0;  // a null BSTR is the empty string
  if (length > BridgeGate::kMaxArgumentLength) return false;
  out = os::win32::Narrow(text, length);
  return true;
}

}  // namespace

ExternalDispatch::ExternalDispatch(CImpIDispatch& bridge, BridgeGate& gate, std::function<std::string()> callerOrigin)
    : bridge_(bridge), gate_(gate), callerOrigin_(std::move(callerOrigin)) {}

HRESULT STDMETHODCALLTYPE ExternalDispatch::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_IUnknown)) {
    *out = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE ExternalDispatch::AddRef() { return ++references_; }

// The owner frees the object; a surplus Release must not wrap the count around.
ULONG STDMETHODCALLTYPE ExternalDispatch::Release() {
  if (references_ > 0) --references_;
  return references_;
}

HRESULT STDMETHODCALLTYPE ExternalDispatch::GetTypeInfoCount(UINT* count) {
  if (count) *count = 0;
  return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE ExternalDispatch::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info) *info = nullptr;
  return E_NOTIMPL;
}

// Every slot gets the id of the request's first name (the member; the rest would name arguments,
// which these methods do not take by name).
HRESULT STDMETHODCALLTYPE ExternalDispatch::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (count == 0) return S_OK;
  if (!names || !ids) return E_POINTER;
  if (!names[0]) {
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
  }
  const std::string member = os::win32::Narrow(names[0], wcslen(names[0]));
  const CImpIDispatch::IdsResult found = bridge_.GetIDsOfNames(std::vector<std::string>(count, member));
  for (UINT i = 0; i < count; ++i) ids[i] = found.ids[i];
  return static_cast<HRESULT>(found.status);
}

bool ExternalDispatch::ReadArguments(const DISPPARAMS& params, UINT count, std::vector<std::string>& args) {
  args.assign(count, std::string());
  for (UINT i = 0; i < count; ++i) {
    const VARIANT& value = params.rgvarg[i];
    if (V_VT(&value) == VT_BSTR) {
      if (!BstrToText(V_BSTR(&value), args[i])) return false;
      continue;
    }
    if (V_VT(&value) == (VT_BSTR | VT_BYREF)) {
      if (!V_BSTRREF(&value) || !BstrToText(*V_BSTRREF(&value), args[i])) return false;
      continue;
    }
    // Any other value in its string form, written the same on every machine ("1.5", "True").
    VARIANT text;
    VariantInit(&text);
    const HRESULT hr =
        VariantChangeTypeEx(&text, const_cast<VARIANT*>(&value), LOCALE_INVARIANT, VARIANT_ALPHABOOL, VT_BSTR);
    const bool converted = SUCCEEDED(hr) && V_VT(&text) == VT_BSTR && BstrToText(V_BSTR(&text), args[i]);
    VariantClear(&text);
    if (!converted) return false;
  }
  return true;
}

// Call flags, locale, exception and argument-error slots are not looked at; the call always
// succeeds for the script, whatever the launcher made of it.
HRESULT STDMETHODCALLTYPE ExternalDispatch::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result,
                                                   EXCEPINFO*, UINT*) {
  const BridgeGate::Decision fromOrigin = gate_.AdmitOrigin(callerOrigin_ ? callerOrigin_() : std::string());
  if (!fromOrigin.admit) {
    if (!fromOrigin.logLine.empty()) LogError(fromOrigin.logLine, "ExternalDispatch::Invoke", kModule, __LINE__);
    return S_OK;
  }
  const UINT given = params && params->rgvarg ? params->cArgs : 0;
  const UINT read = ArgumentsRead(id);
  if (given < read) return S_OK;  // too few: nothing happens, the result stays as it was

  std::vector<std::string> args;
  const bool text = ReadArguments(*params, read, args);
  const BridgeGate::Decision withArguments = BridgeGate::AdmitArguments(text ? &args : nullptr);
  if (!withArguments.admit) {
    LogError(withArguments.logLine, "ExternalDispatch::Invoke", kModule, __LINE__);
    return S_OK;
  }

  const CImpIDispatch::Value answer = bridge_.Invoke(id, args, result != nullptr);
  if (!result) return S_OK;
  if (const std::string* s = std::get_if<std::string>(&answer)) {
    VariantClear(result);
    const std::wstring wide = os::win32::Wide(*s);
    BSTR copy = SysAllocStringLen(wide.c_str(), static_cast<UINT>(wide.size()));
    if (!copy) {
      LogError("no memory for the answer of " + std::to_string(id), "ExternalDispatch::Invoke", kModule, __LINE__);
      return S_OK;
    }
    V_VT(result) = VT_BSTR;
    V_BSTR(result) = copy;
  } else if (const bool* b = std::get_if<bool>(&answer)) {
    VariantClear(result);
    V_VT(result) = VT_BOOL;
    V_BOOL(result) = *b ? 1 : 0;  // 1, as the page has always read it, not VARIANT_TRUE
  }
  return S_OK;
}
