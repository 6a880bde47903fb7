// The browser control's events (DWebBrowserEvents2) that the launcher reacts to: a new window
// (always cancelled here; the handler decides where its address goes), a navigation that has
// ended, a document that is complete. A COM object: it frees itself on its last Release; the owner
// detaches the handler before it goes, since the control may hold the sink a little longer.
// UI thread only.
#pragma once

#include <ole2.h>
#include <windows.h>

#include <string>

class IBrowserEventsHandler {
 public:
  virtual ~IBrowserEventsHandler() = default;
  // A request for a new window showing url; userInitiated when a click asked for it.
  virtual void OnNewWindow(const std::string& url, bool userInitiated) = 0;
  // frame is the control (top level) or one of its frames.
  virtual void OnNavigateComplete(IDispatch* frame, const std::string& url) = 0;
  virtual void OnDocumentComplete(IDispatch* frame, const std::string& url) = 0;
};

class BrowserEvents final : public IDispatch {
 public:
  explicit BrowserEvents(IBrowserEventsHandler* handler) : handler_(handler) {}
  BrowserEvents(const BrowserEvents&) = delete;
  BrowserEvents& operator=(const BrowserEvents&) = delete;

  void Detach() { handler_ = nullptr; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                   UINT*) override;

 private:
  ~BrowserEvents() = default;

  ULONG references_ = 1;  // the creator's
  IBrowserEventsHandler* handler_;
};
