// The page's window.external on Windows: the COM automation object the browser control's host
// hands out from IDocHostUIHandler::GetExternal. It admits a call only from a document of the
// login page's origin, converts the arguments the method reads (the script's last ones; they arrive
// reversed, the last first) to text, and hands them to the portable bridge; string answers go back
// as newly allocated BSTRs the caller owns, the ready flag as a VT_BOOL of 1. Its owner keeps it
// alive as long as the control (reference counting never frees it). UI thread only (the browser's
// thread).
#pragma once

#include <ole2.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

class BridgeGate;
class CImpIDispatch;

class ExternalDispatch final : public IDispatch {
 public:
  // callerOrigin answers the origin of the document whose script is calling, at the time of the
  // call; gate decides whether that origin, and then the arguments, may reach the bridge.
  ExternalDispatch(CImpIDispatch& bridge, BridgeGate& gate, std::function<std::string()> callerOrigin);
  ExternalDispatch(const ExternalDispatch&) = delete;
  ExternalDispatch& operator=(const ExternalDispatch&) = delete;
  virtual ~ExternalDispatch() = default;

  // IUnknown: answers IDispatch and IUnknown only; the count never frees the object.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IDispatch: no type information; names map to the method table's ids; Invoke always succeeds.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* exception, UINT* argumentError) override;

  ULONG References() const { return references_; }

 private:
  // The script's last `count` arguments as text (args[0] the last), or false when one of them has
  // no string form or is too long to take.
  static bool ReadArguments(const DISPPARAMS& params, UINT count, std::vector<std::string>& args);

  CImpIDispatch& bridge_;
  BridgeGate& gate_;
  std::function<std::string()> callerOrigin_;
  ULONG references_ = 0;
};
