// The launcher as the game platform starts it, for the launch tests. It is the launcher's own
// libraries and window, settled in the test's install folder, started with the platform's
// parameters on its real command line (the game receives that line). Only two things stand in:
//   - the page: the browser control here runs no script, so a page host makes the login page's
//     calls of window.external itself, through the COM object (GetIDsOfNames, then Invoke with
//     DISPPARAMS, arguments last to first) at the moments a page makes them;
//   - the update worker: it opens the page, notes a first installation when the case says so,
//     waits until the page has loaded, then reports ready.
// What the page saw is written to a report. VELLMORA_TEST_CASE_DIR names a folder that holds
// "page.txt" (what the page does, "key=value" lines) and receives "report.txt".
#include <windows.h>
// After windows.h, which they need.
#include <ole2.h>
#include <oleauto.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "browser/BridgeGate.h"
#include "browser/WebOrigin.h"
#include "os/FileSystem.h"
#include "os/MessageBox.h"
#include "os/Process.h"
#include "os/base/Win32Text.h"
#include "support/Sandbox.h"
#include "support/TestContext.h"
#include "ui/CImpIDispatch.h"
#include "ui/CWebDlg.h"
#include "ui/UiThread.h"
#include "ui/win32/ContentView.h"
#include "ui/win32/ExternalDispatch.h"
#include "ui/win32/MainWindowView.h"
#include "ui/win32/Win32FrontEnd.h"

namespace {

// How long the whole run may take before the stand-in gives up (a launch that never ends).
constexpr auto kRunLimit = std::chrono::seconds(60);

// What the page does, from page.txt.
struct PageScript {
  std::string installDir;
  std::string config;  // the remote configuration document
  std::string method;  // "AppLogin", or "LoginResult" through JavascriptToCsharp
  std::string login;   // the login result the page reports
  bool loginFirst = false;
  bool firstInstall = false;  // the worker found no installed client
};

PageScript ReadScript(const std::string& file) {
  PageScript script;
  std::istringstream in(Sandbox::ReadFile(file));
  std::string line;
  while (std::getline(in, line)) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "install") script.installDir = value;
    if (key == "config") script.config += value + "\n";
    if (key == "method") script.method = value;
    if (key == "login") script.login = value;
    if (key == "order") script.loginFirst = value == "login-first";
    if (key == "first-install") script.firstInstall = value == "yes";
  }
  return script;
}

// The report's lines, from the UI thread and the watchdog.
class Report {
 public:
  explicit Report(std::string path) : path_(std::move(path)) {}
  void Add(const std::string& line) {
    std::lock_guard<std::mutex> hold(lock_);
    text_ += line + "\n";
  }
  void Write() {
    std::lock_guard<std::mutex> hold(lock_);
    os::WriteFileAtomically(path_, text_);
  }

 private:
  std::mutex lock_;
  std::string path_, text_;
};

// A result as the script sees it: its type and value.
std::string Describe(const VARIANT& v) {
  switch (V_VT(&v)) {
    case VT_EMPTY: return "VT_EMPTY";
    case VT_BOOL: return "VT_BOOL " + std::to_string(V_BOOL(&v));
    case VT_I4: return "VT_I4 " + std::to_string(V_I4(&v));
    case VT_BSTR: return "VT_BSTR \"" + os::win32::Narrow(V_BSTR(&v), SysStringLen(V_BSTR(&v))) + "\"";
    default: return "VT " + std::to_string(V_VT(&v));
  }
}

// Set once the page's first script has run; the worker waits for it. Any thread.
class PageLoaded {
 public:
  void Set() {
    {
      std::lock_guard<std::mutex> hold(lock_);
      loaded_ = true;
    }
    changed_.notify_all();
  }
  bool Wait() {
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, kRunLimit, [this] { return loaded_; });
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  bool loaded_ = false;
};

// The login page in the content window. UI thread.
class ScriptedPage final : public IPageHost {
 public:
  ScriptedPage(const PageHostParams& params, CWebDlg& dlg, const PageScript& script, Report& report, PageLoaded& loaded)
      : dlg_(dlg), script_(script), report_(report), loaded_(loaded), external_(*params.bridge, gate_, [this] {
          return documentOrigin_;
        }) {
    const RECT& r = params.rect;
    window_ = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, r.left, r.top, r.right - r.left,
                              r.bottom - r.top, params.parent, nullptr, GetModuleHandleW(nullptr), nullptr);
  }
  ~ScriptedPage() override {
    if (window_) DestroyWindow(window_);
  }

  HWND Window() const override { return window_; }

  // The login page's document is there once navigated: its origin is the trusted one, and its
  // script runs when the loop gets to it.
  void Navigate(const std::string& url) override {
    report_.Add("navigate " + url);
    gate_.Trust(browser::OriginOfUrl(url));
    documentOrigin_ = browser::OriginOfUrl(url);
    ui::PostToUiThread([this] { OnLoad(); });
  }

  // The page polls the ready flag until it is set, then logs in; a page that logged in at once
  // has nothing more to do (the game starts from the worker's report).
  void OnReadyChanged(bool ready) override {
    if (!ready) return;
    if (!loggedIn_) {
      Poll();
      Login();
      report_.Add(std::string("launcher visible: ") + (LauncherVisible() ? "yes" : "no"));
    }
    // A launcher still shown after the login is closed by the player.
    if (LauncherVisible()) dlg_.Close();
  }

  void SetMainWindow(HWND main) { main_ = main; }

 private:
  void OnLoad() {
    Poll();
    if (script_.loginFirst) Login();
    loaded_.Set();
  }

  void Poll() { report_.Add("IsDownLoadComplete() -> " + Call(L"IsDownLoadComplete", {})); }

  void Login() {
    loggedIn_ = true;
    if (script_.method == "AppLogin") {
      report_.Add("AppLogin(" + script_.login + ") -> " + Call(L"AppLogin", {script_.login}));
    } else {
      report_.Add("JavascriptToCsharp(LoginResult, " + script_.login + ") -> " +
                  Call(L"JavascriptToCsharp", {"LoginResult", script_.login}));
    }
  }

  // One call as the script engine makes it: the member's id by name, then Invoke with the
  // arguments last to first.
  std::string Call(const wchar_t* name, const std::vector<std::string>& args) {
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    if (external_.GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id) != S_OK) return "unknown name";
    std::vector<VARIANT> reversed(args.size());
    for (size_t i = 0; i < args.size(); ++i) {
      VARIANT& v = reversed[args.size() - 1 - i];
      VariantInit(&v);
      V_VT(&v) = VT_BSTR;
      V_BSTR(&v) = SysAllocString(os::win32::Wide(args[i]).c_str());
    }
    DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    VARIANT result;
    VariantInit(&result);
    const HRESULT status =
        external_.Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
    std::string answer = status == S_OK ? Describe(result) : "status " + std::to_string(status);
    VariantClear(&result);
    for (VARIANT& v : reversed) VariantClear(&v);
    return answer;
  }

  bool LauncherVisible() const { return main_ && IsWindowVisible(main_); }

  CWebDlg& dlg_;
  const PageScript& script_;
  Report& report_;
  PageLoaded& loaded_;
  BridgeGate gate_;
  std::string documentOrigin_;
  ExternalDispatch external_;
  HWND window_ = nullptr;
  HWND main_ = nullptr;
  bool loggedIn_ = false;
};

}  // namespace

int main() {
  const char* caseDir = std::getenv("VELLMORA_TEST_CASE_DIR");
  if (!caseDir) return 64;
  const PageScript script = ReadScript(os::JoinPath(caseDir, "page.txt"));
  Report report(os::JoinPath(caseDir, "report.txt"));
  std::thread([&report] {
    std::this_thread::sleep_for(kRunLimit);
    report.Add("run limit reached");
    report.Write();
    os::EndProcessNow(3);
  }).detach();

  OleInitialize(nullptr);
  os::SetMessageBoxPresenter(
      [&report](const std::string& text, const std::string& caption, os::MsgIcon icon, os::MsgButtons buttons) {
        report.Add("message box " + caption + ": " + text +
                   (icon == os::MsgIcon::Warning && buttons == os::MsgButtons::Ok ? " (warning, OK)" : " (other)"));
        return os::MsgAnswer::Ok;
      });
  ui::UiThreadInit();

  // Start-up's context, from this process's own command line, as the launcher builds it.
  TestContext run(os::ArgumentString());
  run.SettleIn(script.installDir);
  run.Get().remoteConfig.Parse(script.config);
  CWebDlg dlg(run.Get());
  CImpIDispatch bridge([&dlg] { return &dlg; });

  ScriptedPage* page = nullptr;
  PageLoaded loaded;
  std::thread worker;
  LauncherWindowOptions options;
  options.bridge = &bridge;
  options.pageHost = [&](const PageHostParams& params) -> std::unique_ptr<IPageHost> {
    auto made = std::make_unique<ScriptedPage>(params, dlg, script, report, loaded);
    page = made.get();
    return made;
  };
  options.onShown = [&](const LauncherWindowParts& parts) {
    report.Add("window " + std::to_string(parts.main->NativeId()));
    if (page) page->SetMainWindow(parts.main->Window());
  };
  options.startWorker = [&] {
    worker = std::thread([&] {
      dlg.InitWebBrower();
      if (script.firstInstall) run.Get().updateState.SetFirstInstall(1);
      if (loaded.Wait()) dlg.SetReady();
    });
  };
  const int result = RunLauncherWindowWith(dlg, options);
  report.Add("run ended: " + std::to_string(result));
  if (worker.joinable()) worker.join();
  report.Write();
  OleUninitialize();
  return 0;
}
