// The launcher's progress on its task-bar button. The test registers its own class object for the
// shell's task-bar list in this apartment, so the launcher's CoCreateInstance gets a recording fake
// (or one whose HrInit fails) instead of the shell's object.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which they need.
#include <objbase.h>
#include <shobjidl.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "log/LauncherLog.h"
#include "ui/win32/TaskbarProgress.h"

namespace {

// What the fakes were asked, in order, and how many of them live.
struct Record {
  HWND window = nullptr;  // the window every call is expected to name
  std::vector<std::string> calls;
  int created = 0;
  int alive = 0;
  void Add(HWND w, const std::string& call) { calls.push_back(w == window ? call : call + " on another window"); }
};

// The task-bar list as the shell would hand it out, recording the three calls the launcher makes.
class FakeTaskbarList final : public ITaskbarList3 {
 public:
  FakeTaskbarList(Record& record, HRESULT initResult) : record_(record), initResult_(initResult) {
    ++record_.created;
    ++record_.alive;
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_ITaskbarList) && !IsEqualIID(iid, IID_ITaskbarList2) &&
        !IsEqualIID(iid, IID_ITaskbarList3))
      return E_NOINTERFACE;
    *out = static_cast<ITaskbarList3*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) {
      --record_.alive;
      delete this;
    }
    return left;
  }

  HRESULT STDMETHODCALLTYPE HrInit() override {
    record_.calls.push_back("HrInit");
    return initResult_;
  }
  HRESULT STDMETHODCALLTYPE SetProgressState(HWND window, TBPFLAG state) override {
    record_.Add(window, state == TBPF_NORMAL       ? "state normal"
                        : state == TBPF_NOPROGRESS ? "state none"
                                                   : "state " + std::to_string(state));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetProgressValue(HWND window, ULONGLONG done, ULONGLONG total) override {
    record_.Add(window, "value " + std::to_string(done) + "/" + std::to_string(total));
    return S_OK;
  }

  // Not used by the launcher: a call shows up in the record.
  HRESULT STDMETHODCALLTYPE AddTab(HWND) override { return Other("AddTab"); }
  HRESULT STDMETHODCALLTYPE DeleteTab(HWND) override { return Other("DeleteTab"); }
  HRESULT STDMETHODCALLTYPE ActivateTab(HWND) override { return Other("ActivateTab"); }
  HRESULT STDMETHODCALLTYPE SetActiveAlt(HWND) override { return Other("SetActiveAlt"); }
  HRESULT STDMETHODCALLTYPE MarkFullscreenWindow(HWND, WINBOOL) override { return Other("MarkFullscreenWindow"); }
  HRESULT STDMETHODCALLTYPE RegisterTab(HWND, HWND) override { return Other("RegisterTab"); }
  HRESULT STDMETHODCALLTYPE UnregisterTab(HWND) override { return Other("UnregisterTab"); }
  HRESULT STDMETHODCALLTYPE SetTabOrder(HWND, HWND) override { return Other("SetTabOrder"); }
  HRESULT STDMETHODCALLTYPE SetTabActive(HWND, HWND, DWORD) override { return Other("SetTabActive"); }
  HRESULT STDMETHODCALLTYPE ThumbBarAddButtons(HWND, UINT, LPTHUMBBUTTON) override {
    return Other("ThumbBarAddButtons");
  }
  HRESULT STDMETHODCALLTYPE ThumbBarUpdateButtons(HWND, UINT, LPTHUMBBUTTON) override {
    return Other("ThumbBarUpdateButtons");
  }
  HRESULT STDMETHODCALLTYPE ThumbBarSetImageList(HWND, HIMAGELIST) override { return Other("ThumbBarSetImageList"); }
  HRESULT STDMETHODCALLTYPE SetOverlayIcon(HWND, HICON, LPCWSTR) override { return Other("SetOverlayIcon"); }
  HRESULT STDMETHODCALLTYPE SetThumbnailTooltip(HWND, LPCWSTR) override { return Other("SetThumbnailTooltip"); }
  HRESULT STDMETHODCALLTYPE SetThumbnailClip(HWND, RECT*) override { return Other("SetThumbnailClip"); }

 private:
  ~FakeTaskbarList() = default;
  HRESULT Other(const char* name) {
    record_.calls.push_back(name);
    return E_NOTIMPL;
  }

  Record& record_;
  HRESULT initResult_;
  ULONG references_ = 1;
};

// The class object registered for CLSID_TaskbarList: each instance it makes is a new fake.
class FakeTaskbarFactory final : public IClassFactory {
 public:
  FakeTaskbarFactory(Record& record, HRESULT initResult) : record_(record), initResult_(initResult) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory)) return E_NOINTERFACE;
    *out = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  // Lives on the test's stack, beyond its registration.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    auto* list = new FakeTaskbarList(record_, initResult_);
    const HRESULT hr = list->QueryInterface(iid, out);
    list->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

 private:
  Record& record_;
  HRESULT initResult_;
};

class TaskbarProgressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, GetModuleHandleW(nullptr),
                             nullptr);
    ASSERT_NE(window, nullptr);
    record.window = window;
    dir = std::filesystem::temp_directory_path() / ("vellmora-taskbar-" + std::to_string(GetCurrentProcessId()));
    std::filesystem::create_directories(dir);
    logPath = (dir / "taskbar.log").string();
    LauncherLog::Instance().Open(logPath);
  }
  void TearDown() override {
    if (cookie) CoRevokeClassObject(cookie);
    LauncherLog::Instance().Close();
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    if (window) DestroyWindow(window);
    CoUninitialize();
  }

  // From here on, CoCreateInstance of the task-bar list in this apartment makes factory's fakes.
  void Register(FakeTaskbarFactory& factory) {
    ASSERT_EQ(CoRegisterClassObject(CLSID_TaskbarList, &factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie),
              S_OK);
  }

  // The record's calls since the last look.
  std::vector<std::string> Take() { return std::exchange(record.calls, {}); }

  std::string Log() {
    LauncherLog::Instance().Close();
    std::ifstream in(logPath, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  HWND window = nullptr;
  Record record;
  DWORD cookie = 0;
  std::filesystem::path dir;
  std::string logPath;
};

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

}  // namespace

TEST_F(TaskbarProgressTest, TheButtonFollowsTheBarOnceItShowsWithEachWholePercentSentOnce) {
  FakeTaskbarFactory factory(record, S_OK);
  Register(factory);
  {
    TaskbarProgress progress;
    progress.Attach(window);
    const struct {
      const char* what;
      std::function<void()> act;
      std::vector<std::string> calls;
    } kSteps[] = {
        {"a percent while the bar is hidden", [&] { progress.SetPercent(30); }, {}},
        {"hiding a hidden bar", [&] { progress.SetVisible(false); }, {}},
        {"the bar shows: the list is made, then the state and the last percent",
         [&] { progress.SetVisible(true); },
         {"HrInit", "state normal", "value 30/100"}},
        {"showing it again", [&] { progress.SetVisible(true); }, {}},
        {"the same percent", [&] { progress.SetPercent(30); }, {}},
        {"the next percent", [&] { progress.SetPercent(31); }, {"value 31/100"}},
        {"above 100", [&] { progress.SetPercent(150); }, {"value 100/100"}},
        {"further above, still 100", [&] { progress.SetPercent(1000); }, {}},
        {"below 0", [&] { progress.SetPercent(-5); }, {"value 0/100"}},
        {"further below, still 0", [&] { progress.SetPercent(-1000); }, {}},
        {"the bar hides", [&] { progress.SetVisible(false); }, {"state none"}},
        {"a percent while hidden is kept, not sent", [&] { progress.SetPercent(50); }, {}},
        {"the bar shows again with it", [&] { progress.SetVisible(true); }, {"state normal", "value 50/100"}},
    };
    for (const auto& step : kSteps) {
      SCOPED_TRACE(step.what);
      const int createdBefore = record.created;
      step.act();
      EXPECT_EQ(Take(), step.calls);
      // The list is made on the bar's first showing and kept from then on.
      EXPECT_EQ(record.created, step.calls.empty() || step.calls[0] != "HrInit" ? createdBefore : createdBefore + 1);
    }
    EXPECT_EQ(record.created, 1);
    EXPECT_EQ(record.alive, 1);
  }
  EXPECT_EQ(record.alive, 0) << "the list is released with its holder";
}

TEST_F(TaskbarProgressTest, AListWhoseInitFailsIsLoggedOnceAndNeverUsed) {
  FakeTaskbarFactory factory(record, E_ACCESSDENIED);
  Register(factory);
  {
    TaskbarProgress progress;
    progress.Attach(window);
    progress.SetPercent(40);
    progress.SetVisible(true);
    EXPECT_EQ(Take(), std::vector<std::string>{"HrInit"});
    EXPECT_EQ(record.alive, 0) << "the failed list is released at once";
    progress.SetPercent(41);
    progress.SetVisible(false);
    progress.SetVisible(true);
    progress.SetPercent(42);
    EXPECT_EQ(Take(), std::vector<std::string>{});
    EXPECT_EQ(record.created, 1);
  }
  const std::string log = Log();
  EXPECT_EQ(Count(log, "no task-bar progress, error " + std::to_string(static_cast<unsigned long>(E_ACCESSDENIED))), 1u)
      << log;
  EXPECT_EQ(Count(log, "no task-bar progress"), 1u) << log;
}
