// The browser control's host on Windows: the document host answers, the key filter as the control
// asks it, the control's events as it fires them, and the control itself in a window. Wine here
// has no HTML engine: the control is created, but no page is shown and no script runs.
#include <gtest/gtest.h>

#include <exdisp.h>
#include <exdispid.h>
#include <mshtmhst.h>
#include <ole2.h>
#include <oleauto.h>
#include <windows.h>

#include <string>
#include <vector>

#include "browser/BridgeGate.h"
#include "browser/win32/BrowserEvents.h"
#include "browser/win32/BrowserSite.h"
#include "browser/win32/ThreadKeyHook.h"
#include "browser/win32/WebBrowserHost.h"
#include "os/base/ComRef.h"
#include "ui/CImpIDispatch.h"
#include "ui/win32/BrowserPage.h"
#include "ui/win32/ExternalDispatch.h"

using os::win32::ComRef;

namespace {

// A bridge object that counts its references, so hand-outs are visible.
struct CountedExternal {
  CImpIDispatch bridge{[] { return nullptr; }};
  BridgeGate gate;
  ExternalDispatch object{bridge, gate, [] { return std::string(); }};
};

// A plain window to hold a control; destroyed with the test.
struct HostWindow {
  HostWindow() {
    window = CreateWindowExW(0, L"STATIC", L"host", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
  }
  ~HostWindow() {
    if (window) DestroyWindow(window);
  }
  HWND window = nullptr;
};

struct Apartment {
  Apartment() { ok = SUCCEEDED(OleInitialize(nullptr)); }
  ~Apartment() {
    if (ok) OleUninitialize();
  }
  bool ok = false;
};

TEST(BrowserSiteTest, DocumentHostAnswers) {
  HostWindow host;
  if (!host.window) GTEST_SKIP() << "no display for windows";
  CountedExternal external;
  BrowserSite* site = new BrowserSite(host.window, &external.object);
  EXPECT_EQ(external.object.References(), 1u);  // the site holds it

  DOCHOSTUIINFO info{};
  info.cbSize = sizeof info;
  info.dwFlags = 0xFFFF0000;
  info.dwDoubleClick = 3;
  info.pchHostCss = nullptr;
  EXPECT_EQ(site->GetHostInfo(&info), S_OK);
  EXPECT_EQ(info.dwFlags, 12u);  // no 3-D border, no scroll bars
  EXPECT_EQ(info.dwDoubleClick, 0u);
  EXPECT_EQ(info.cbSize, sizeof info);  // the rest untouched

  POINT at{1, 1};
  EXPECT_EQ(site->ShowContextMenu(0, &at, nullptr, nullptr), S_OK);
  EXPECT_EQ(site->ShowUI(0, nullptr, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(site->HideUI(), S_OK);
  EXPECT_EQ(site->UpdateUI(), S_OK);
  EXPECT_EQ(site->ShowHelp(nullptr, nullptr, 0, 0, at, nullptr), S_OK);
  EXPECT_EQ(site->EnableModeless(TRUE), E_NOTIMPL);
  EXPECT_EQ(site->OnDocWindowActivate(TRUE), E_NOTIMPL);
  EXPECT_EQ(site->OnFrameWindowActivate(TRUE), E_NOTIMPL);
  EXPECT_EQ(site->ResizeBorder(nullptr, nullptr, TRUE), E_NOTIMPL);
  LPOLESTR key = reinterpret_cast<LPOLESTR>(1);
  EXPECT_EQ(site->GetOptionKeyPath(&key, 0), E_NOTIMPL);
  EXPECT_EQ(key, nullptr);
  IDropTarget* drop = reinterpret_cast<IDropTarget*>(1);
  EXPECT_EQ(site->GetDropTarget(nullptr, &drop), E_NOTIMPL);
  EXPECT_EQ(drop, nullptr);
  LPWSTR url = reinterpret_cast<LPWSTR>(1);
  EXPECT_EQ(site->TranslateUrl(0, const_cast<LPWSTR>(L"http://x/"), &url), E_NOTIMPL);
  EXPECT_EQ(url, nullptr);
  IDataObject* data = reinterpret_cast<IDataObject*>(1);
  EXPECT_EQ(site->FilterDataObject(nullptr, &data), E_NOTIMPL);
  EXPECT_EQ(data, nullptr);

  // window.external: the bridge object, with a reference for the page.
  IDispatch* handed = nullptr;
  EXPECT_EQ(site->GetExternal(&handed), S_OK);
  EXPECT_EQ(handed, static_cast<IDispatch*>(&external.object));
  EXPECT_EQ(external.object.References(), 2u);
  handed->Release();

  // The interfaces the control asks the site for, and nothing else.
  const IID answered[] = {IID_IUnknown,        IID_IOleClientSite,    IID_IOleWindow,
                          IID_IOleInPlaceSite, IID_IDocHostUIHandler, kIidDocHostShowUI};
  for (const IID& iid : answered) {
    ComRef<IUnknown> got;
    EXPECT_EQ(site->QueryInterface(iid, got.OutVoid()), S_OK);
    EXPECT_TRUE(got);
  }
  ComRef<IUnknown> none;
  EXPECT_EQ(site->QueryInterface(IID_IOleInPlaceFrame, none.OutVoid()), E_NOINTERFACE);
  EXPECT_FALSE(none);

  // The in-place frame is the holding window, with the whole client area.
  IOleInPlaceFrame* frame = nullptr;
  IOleInPlaceUIWindow* document = reinterpret_cast<IOleInPlaceUIWindow*>(1);
  RECT position{}, clip{};
  OLEINPLACEFRAMEINFO frameInfo{};
  frameInfo.cb = sizeof frameInfo;
  ASSERT_EQ(site->GetWindowContext(&frame, &document, &position, &clip, &frameInfo), S_OK);
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(document, nullptr);
  HWND frameWindow = nullptr;
  EXPECT_EQ(frame->GetWindow(&frameWindow), S_OK);
  EXPECT_EQ(frameWindow, host.window);
  RECT client{};
  GetClientRect(host.window, &client);
  EXPECT_TRUE(EqualRect(&position, &client));
  EXPECT_EQ(frameInfo.hwndFrame, host.window);
  EXPECT_EQ(frame->RequestBorderSpace(nullptr), INPLACE_E_NOTOOLSPACE);  // no tool bars for the page
  frame->Release();

  site->Release();
  EXPECT_EQ(external.object.References(), 0u);  // the site let go of the bridge
}

TEST(BrowserSiteTest, KeyFilterAsTheControlAsksIt) {
  struct Case {
    const char* name;
    UINT message;
    WPARAM key;
    HeldKeys held;
    bool swallowed;
  };
  HeldKeys none, f5, ctrl, ctrlN;
  f5.f5 = true;
  ctrl.ctrl = true;
  ctrlN.ctrl = true;
  ctrlN.n = true;
  const Case cases[] = {
      {"F5", WM_KEYDOWN, VK_F5, none, true},
      {"F5 released", WM_KEYUP, VK_F5, f5, false},
      {"A while F5 is held", WM_KEYDOWN, 'A', f5, true},
      {"character while F5 is held", WM_CHAR, 'a', f5, false},
      {"Ctrl+N", WM_KEYDOWN, 'N', ctrl, true},
      {"Ctrl+O", WM_KEYDOWN, 'O', ctrl, true},
      {"Ctrl+P", WM_KEYDOWN, 'P', ctrl, true},
      {"N alone", WM_KEYDOWN, 'N', none, false},
      {"Ctrl+C", WM_KEYDOWN, 'C', ctrl, false},
      {"Ctrl+C while N is held", WM_KEYDOWN, 'C', ctrlN, true},
      {"Ctrl+A", WM_KEYDOWN, 'A', ctrl, false},
      {"system key F5", WM_SYSKEYDOWN, VK_F5, none, false},
  };
  for (const Case& c : cases) {
    MSG message{};
    message.message = c.message;
    message.wParam = c.key;
    EXPECT_EQ(BrowserSite::SwallowsKey(message, c.held), c.swallowed) << c.name;
  }

  // Through the interface, with the keyboard as it is (nothing held down here).
  HostWindow host;
  BrowserSite* site = new BrowserSite(host.window, nullptr);
  MSG message{};
  message.message = WM_KEYDOWN;
  message.wParam = VK_F5;
  EXPECT_EQ(site->TranslateAccelerator(&message, nullptr, 0), S_OK);
  message.wParam = 'A';
  EXPECT_EQ(site->TranslateAccelerator(&message, nullptr, 0), S_FALSE);
  IDispatch* handed = reinterpret_cast<IDispatch*>(1);
  EXPECT_EQ(site->GetExternal(&handed), E_NOTIMPL);  // no bridge given
  EXPECT_EQ(handed, nullptr);
  site->Release();
}

// What the thread's loops dispatch once the hook has offered a key message to its translator.
TEST(ThreadKeyHookTest, UsedKeysAreDispatchedAsNothing) {
  HostWindow host;
  if (!host.window) GTEST_SKIP() << "no display for windows";
  auto next = [&](UINT message, WPARAM key, UINT removal) {
    PostMessageW(host.window, message, key, 0);
    MSG got{};
    EXPECT_TRUE(PeekMessageW(&got, host.window, message, message, removal));
    return got.message;
  };
  std::vector<WPARAM> offered;
  {
    ThreadKeyHook hook([&offered](MSG& m) {
      offered.push_back(m.wParam);
      return m.wParam == VK_F5;
    });
    ASSERT_TRUE(hook.Installed());
    ThreadKeyHook second([](MSG&) { return false; });
    EXPECT_FALSE(second.Installed());  // one per thread: the first keeps the keys

    EXPECT_EQ(next(WM_KEYDOWN, VK_F5, PM_REMOVE), static_cast<UINT>(WM_NULL));
    EXPECT_EQ(next(WM_KEYDOWN, 'A', PM_REMOVE), static_cast<UINT>(WM_KEYDOWN));
    EXPECT_EQ(next(WM_LBUTTONDOWN, 0, PM_REMOVE), static_cast<UINT>(WM_LBUTTONDOWN));  // no key: not offered
    // A look without taking it out is not offered; taking it out then is, once.
    EXPECT_EQ(next(WM_KEYUP, VK_F5, PM_NOREMOVE), static_cast<UINT>(WM_KEYUP));
    MSG got{};
    ASSERT_TRUE(PeekMessageW(&got, host.window, WM_KEYUP, WM_KEYUP, PM_REMOVE));
    EXPECT_EQ(got.message, static_cast<UINT>(WM_NULL));
  }
  EXPECT_EQ(offered, (std::vector<WPARAM>{VK_F5, 'A', VK_F5}));
  // Removed: keys pass untouched, and a new hook may take the thread.
  EXPECT_EQ(next(WM_KEYDOWN, VK_F5, PM_REMOVE), static_cast<UINT>(WM_KEYDOWN));
  ThreadKeyHook again([](MSG&) { return true; });
  EXPECT_TRUE(again.Installed());
}

struct RecordingHandler : IBrowserEventsHandler {
  void OnNewWindow(const std::string& url, bool userInitiated) override {
    calls.push_back("new " + url + (userInitiated ? " click" : " script"));
  }
  void OnNavigateComplete(IDispatch* frame, const std::string& url) override {
    calls.push_back(std::string("navigated ") + (frame ? "frame " : "none ") + url);
  }
  void OnDocumentComplete(IDispatch* frame, const std::string& url) override {
    calls.push_back(std::string("complete ") + (frame ? "frame " : "none ") + url);
  }
  std::vector<std::string> calls;
};

TEST(BrowserEventsTest, NewWindowsAreCancelledAndNavigationsReported) {
  RecordingHandler handler;
  BrowserEvents* events = new BrowserEvents(&handler);
  CountedExternal someFrame;  // any IDispatch stands for a frame

  // NewWindow3(ppDisp, Cancel, dwFlags, bstrUrlContext, bstrUrl), last first.
  auto newWindow = [&](const wchar_t* url, LONG flags) {
    IDispatch* opened = nullptr;
    VARIANT_BOOL cancel = VARIANT_FALSE;
    VARIANT args[5];
    for (VARIANT& a : args) VariantInit(&a);
    V_VT(&args[0]) = VT_BSTR;
    V_BSTR(&args[0]) = SysAllocString(url);
    V_VT(&args[1]) = VT_BSTR;
    V_BSTR(&args[1]) = SysAllocString(L"http://login.example/");
    V_VT(&args[2]) = VT_I4;
    V_I4(&args[2]) = flags;
    V_VT(&args[3]) = VT_BOOL | VT_BYREF;
    V_BOOLREF(&args[3]) = &cancel;
    V_VT(&args[4]) = VT_DISPATCH | VT_BYREF;
    V_DISPATCHREF(&args[4]) = &opened;
    DISPPARAMS params{args, nullptr, 5, 0};
    EXPECT_EQ(events->Invoke(DISPID_NEWWINDOW3, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr),
              S_OK);
    VariantClear(&args[0]);
    VariantClear(&args[1]);
    EXPECT_EQ(opened, nullptr);
    return cancel;
  };
  EXPECT_EQ(newWindow(L"https://news.example/a", 0x2), VARIANT_TRUE);
  EXPECT_EQ(newWindow(L"file:///C:/x", 0x6), VARIANT_TRUE);
  EXPECT_EQ(newWindow(L"https://news.example/b", 0x4), VARIANT_TRUE);

  // NavigateComplete2 and DocumentComplete(pDisp, URL), the URL a VARIANT by reference.
  auto navigation = [&](DISPID id, IDispatch* frame, const wchar_t* url) {
    VARIANT address;
    VariantInit(&address);
    V_VT(&address) = VT_BSTR;
    V_BSTR(&address) = SysAllocString(url);
    VARIANT args[2];
    VariantInit(&args[0]);
    VariantInit(&args[1]);
    V_VT(&args[0]) = VT_VARIANT | VT_BYREF;
    V_VARIANTREF(&args[0]) = &address;
    V_VT(&args[1]) = VT_DISPATCH;
    V_DISPATCH(&args[1]) = frame;
    DISPPARAMS params{args, nullptr, 2, 0};
    EXPECT_EQ(events->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr), S_OK);
    VariantClear(&address);
  };
  navigation(DISPID_NAVIGATECOMPLETE2, &someFrame.object, L"https://login.example/entry");
  navigation(DISPID_DOCUMENTCOMPLETE, nullptr, L"https://login.example/entry");

  // Too few arguments, an event of no interest: nothing.
  DISPPARAMS empty{nullptr, nullptr, 0, 0};
  EXPECT_EQ(events->Invoke(DISPID_NEWWINDOW3, IID_NULL, 0, DISPATCH_METHOD, &empty, nullptr, nullptr, nullptr), S_OK);
  navigation(DISPID_BEFORENAVIGATE2, &someFrame.object, L"https://x/");

  const std::vector<std::string> expected = {
      "new https://news.example/a click",          "new file:///C:/x click",
      "new https://news.example/b script",         "navigated frame https://login.example/entry",
      "complete none https://login.example/entry",
  };
  EXPECT_EQ(handler.calls, expected);

  // Detached: still cancelled, nobody told.
  events->Detach();
  EXPECT_EQ(newWindow(L"https://news.example/c", 0x2), VARIANT_TRUE);
  EXPECT_EQ(handler.calls.size(), expected.size());
  events->Release();
}

TEST(WebBrowserHostTest, TheControlIsCreatedHiddenInItsWindowWithTheBridge) {
  Apartment apartment;
  ASSERT_TRUE(apartment.ok);
  HostWindow host;
  if (!host.window) GTEST_SKIP() << "no display for windows";
  CountedExternal external;
  {
    std::vector<std::string> opened;
    WebBrowserHost browser([&opened](const std::string& uri) { opened.push_back(uri); });
    EXPECT_EQ(browser.CallerOrigin(), "");
    ASSERT_TRUE(browser.Create(host.window, &external.object));
    EXPECT_TRUE(browser.Created());
    HWND control = browser.ControlWindow();
    ASSERT_NE(control, nullptr);
    EXPECT_TRUE(IsChild(host.window, control));
    EXPECT_FALSE(IsWindowVisible(control));  // until its first document is complete
    EXPECT_GE(external.object.References(), 1u);

    // Until the navigation ends, the address given is the one origin the gate admits.
    browser.Navigate("http://127.0.0.1:9/entry?fileparam=x");
    EXPECT_EQ(browser.Gate().TrustedOrigin(), "http://127.0.0.1:9");
    EXPECT_TRUE(browser.Gate().AdmitOrigin("http://127.0.0.1:9").admit);
    EXPECT_FALSE(browser.Gate().AdmitOrigin("http://127.0.0.1:10").admit);
    browser.Navigate("file:///C:/page.html");  // no origin: nobody is admitted
    EXPECT_EQ(browser.Gate().TrustedOrigin(), "");
    EXPECT_TRUE(opened.empty());
  }
  // The control and its site are gone, and with them every hold on the bridge.
  EXPECT_EQ(external.object.References(), 0u);
}

// The page host the front end asks for: its window at the page's rectangle in the content window,
// the control filling it at every size.
TEST(BrowserPageTest, TheControlFillsThePageWindowAtItsRectangle) {
  Apartment apartment;
  ASSERT_TRUE(apartment.ok);
  HostWindow content;
  if (!content.window) GTEST_SKIP() << "no display for windows";
  CImpIDispatch bridge{[] { return nullptr; }};
  PageHostParams params;
  params.parent = content.window;
  params.id = 1005;
  params.rect = RECT{10, 20, 310, 220};
  params.bridge = &bridge;
  std::unique_ptr<IPageHost> page = MakeBrowserPage(params);
  ASSERT_NE(page, nullptr);
  HWND window = page->Window();
  EXPECT_EQ(GetParent(window), content.window);
  EXPECT_EQ(GetDlgCtrlID(window), 1005);
  RECT placed{};
  GetWindowRect(window, &placed);
  MapWindowPoints(nullptr, content.window, reinterpret_cast<POINT*>(&placed), 2);
  EXPECT_TRUE(EqualRect(&placed, &params.rect));

  auto* browserPage = static_cast<BrowserPage*>(page.get());
  ASSERT_TRUE(browserPage->HasControl());
  HWND control = browserPage->Host().ControlWindow();
  ASSERT_NE(control, nullptr);
  EXPECT_TRUE(IsChild(window, control));
  MoveWindow(window, 0, 0, 200, 150, TRUE);
  RECT area{};
  GetWindowRect(control, &area);
  EXPECT_EQ(area.right - area.left, 200);
  EXPECT_EQ(area.bottom - area.top, 150);

  page->Navigate("https://login.example/entry");
  EXPECT_EQ(browserPage->Host().Gate().TrustedOrigin(), "https://login.example");
  page.reset();
  EXPECT_FALSE(IsWindow(window));
}

}  // namespace
