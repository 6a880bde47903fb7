// The launcher window's logic without a display: a recording view stands in for GTK.
#include <gtest/gtest.h>

#include <glib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "core/RemoteConfigTable.h"
#include "log/LauncherLog.h"
#include "os/FileSystem.h"
#include "platform/CWindowMessageHandler.h"
#include "support/Sandbox.h"
#include "support/TestContext.h"
#include "ui/CWebCDlg.h"
#include "ui/CWebDlg.h"
#include "ui/Layout.h"
#include "ui/UiThread.h"
#include "update/CGameRemoteConfig.h"

namespace {

// Keeps the controls' state like the real view and records every call in order.
class RecordingView : public IContentView, public IMainWindowView {
 public:
  void SetControlText(int id, const std::string& text) override {
    Note("text " + std::to_string(id) + "=" + text);
    texts[id] = text;
  }
  void SetControlVisible(int id, bool visible) override {
    Note("visible " + std::to_string(id) + "=" + (visible ? "1" : "0"));
    shown[id] = visible;
  }
  void SetProgressPos(int pos) override {
    Note("pos " + std::to_string(pos));
    this->pos = pos;
  }
  void Navigate(const std::string& url) override {
    Note("navigate " + url);
    navigated.push_back(url);
  }
  void OnReadyChanged(bool ready) override { Note(std::string("ready ") + (ready ? "1" : "0")); }
  void Hide() override { Note("hide"); }
  void Minimise() override { Note("minimise"); }
  void EndModal(int result) override { Note("end " + std::to_string(result)); }
  unsigned long NativeId() const override { return 0; }

  void Note(const std::string& what) {
    calls.push_back(what);
    if (!ui::IsUiThread()) offUiThread = true;
  }
  bool Visible(int id) { return shown[id]; }

  std::map<int, std::string> texts;
  std::map<int, bool> shown;
  int pos = -1;
  std::vector<std::string> navigated;
  std::vector<std::string> calls;
  bool offUiThread = false;
};

struct WindowLogic : ::testing::Test {
  void SetUp() override {
    box.MakeDrives(true);
    os::MakeDirectories(box.InstallDir());
    context.SettleIn(box.InstallDir());
    ui::UiThreadInit();
    dlg.CreateContent();
    dlg.AttachView(&view);
    dlg.Content()->AttachView(&view);
  }
  void TearDown() override { ui::UiThreadShutdown(); }
  // Runs the UI loop on this thread while work runs on a worker thread, until the work is done
  // (or 10 s have passed).
  void RunLoopWhileWorking(const std::function<void()>& work) {
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    std::thread worker([&] {
      work();
      g_main_loop_quit(loop);
    });
    guint guard = g_timeout_add(
        10000,
        [](gpointer l) {
          g_main_loop_quit(static_cast<GMainLoop*>(l));
          return G_SOURCE_REMOVE;
        },
        loop);
    g_main_loop_run(loop);
    worker.join();
    g_source_remove(guard);
    g_main_loop_unref(loop);
  }
  std::string Log() const {
    LauncherLog::Instance().Close();
    std::string log = Sandbox::ReadFile(box.LogPath());
    LauncherLog::Instance().Open(box.LogPath());
    return log;
  }
  Sandbox box;
  RecordingView view;
  TestContext context;
  CWebDlg dlg{context.Get()};
};

TEST_F(WindowLogic, AttachingHidesEveryProgressControlWithTheInitialTexts) {
  for (int id : {kIdProgressBar, kIdMessageText, kIdStatusLabel, kIdProgressText}) {
    EXPECT_TRUE(view.shown.count(id)) << id;
    EXPECT_FALSE(view.Visible(id)) << id;
  }
  EXPECT_EQ(view.texts[kIdStatusLabel], "正在更新......");
  EXPECT_EQ(view.texts[kIdMessageText], "正在更新.....");
  EXPECT_EQ(view.texts[kIdProgressText], "0%");
  EXPECT_EQ(view.pos, 0);
}

TEST_F(WindowLogic, ProgressAndMessageViewsShowTheirControls) {
  dlg.ShowProgressView();
  EXPECT_TRUE(view.Visible(kIdProgressBar));
  EXPECT_TRUE(view.Visible(kIdStatusLabel));
  EXPECT_TRUE(view.Visible(kIdProgressText));
  EXPECT_FALSE(view.Visible(kIdMessageText));

  // A message-only update: the message shows, the bar and both progress labels do not.
  dlg.SetProgress("更新失败", "", 0, 0);
  dlg.ShowMessageView();
  EXPECT_TRUE(view.Visible(kIdMessageText));
  EXPECT_EQ(view.texts[kIdMessageText], "更新失败");
  EXPECT_FALSE(view.Visible(kIdProgressBar));
  EXPECT_FALSE(view.Visible(kIdStatusLabel));
  EXPECT_FALSE(view.Visible(kIdProgressText));
}

TEST_F(WindowLogic, ProgressTextChangesOnlyWithThePercentage) {
  dlg.SetProgress("", "10%", 10, 1);
  EXPECT_EQ(view.texts[kIdProgressText], "10%");
  EXPECT_EQ(view.pos, 10);
  EXPECT_FALSE(view.Visible(kIdProgressText));  // hidden by the update; the worker shows it again
  dlg.ShowProgressView();

  view.calls.clear();
  dlg.SetProgress("", "10% (again)", 10, 1);
  EXPECT_EQ(view.texts[kIdProgressText], "10%");
  EXPECT_TRUE(view.Visible(kIdProgressText));
  EXPECT_EQ(dlg.Content()->ProgressPos(), 10);

  dlg.SetProgress("", "11%", 11, 1);
  EXPECT_EQ(view.texts[kIdProgressText], "11%");
  // Back at 0 from another phase: a change again.
  dlg.SetProgress("", "0/7", 0, 0);
  EXPECT_EQ(view.texts[kIdProgressText], "0/7");
}

TEST_F(WindowLogic, PhaseLabelIsWrittenOncePerPhaseAndNeverSwitchesBack) {
  dlg.SetProgress("", "1%", 1, 1);
  EXPECT_EQ(view.texts[kIdStatusLabel], "正在下载：");
  dlg.SetProgress("", "1/9", 1, 0);
  EXPECT_EQ(view.texts[kIdStatusLabel], "正在解压：");
  dlg.ShowProgressView();
  view.calls.clear();
  dlg.SetProgress("", "50%", 50, 1);
  EXPECT_EQ(view.texts[kIdStatusLabel], "正在解压：");
  for (const std::string& c : view.calls) EXPECT_NE(c.rfind("text 1002=", 0), 0u) << c;
  EXPECT_TRUE(view.Visible(kIdStatusLabel));
}

TEST_F(WindowLogic, PageAddressJoinsEntryAndPlatformQuery) {
  struct Case {
    const char* commandLine;
    const char* entry;
    const char* expected;
  };
  const Case cases[] = {
      {"--winid=5 --token=abc", "http://h/login?x=1", "http://h/login?x=1&winid=5&token=abc"},
      {"--winid=5 --token=abc", "http://h/login", "http://h/login?winid=5&token=abc"},
      {"--winid=5", "", "?winid=5"},
      {"", "http://h/login", "http://h/login"},  // no parameters: the entry address unchanged
      {"", "http://h/login?x=1", "http://h/login?x=1"},
  };
  for (const Case& c : cases) {
    TestContext run(c.commandLine, "vellmora");
    run.Get().remoteConfig.Parse(std::string("EntryUrl=") + c.entry + "\n");
    CWebDlg window(run.Get());
    window.CreateContent();
    window.Content()->AttachView(&view);
    view.navigated.clear();
    window.InitWebBrower();
    ASSERT_EQ(view.navigated.size(), 1u);
    EXPECT_EQ(view.navigated[0], c.expected) << c.commandLine << " | " << c.entry;
  }
  const std::string log = Log();
  EXPECT_NE(log.find("[INFO][CWebDlg::InitWebBrower::73] InitWebBrower"), std::string::npos) << log;
  EXPECT_NE(log.find(std::string("[INFO][CWebCDlg::InitWebBrower::161] ") + cases[0].expected), std::string::npos)
      << log;
}

TEST_F(WindowLogic, OperationsFromTheWorkerRunOnTheUiThread) {
  RunLoopWhileWorking([&] {
    dlg.ShowProgressView();
    for (int p = 0; p <= 100; p += 25) dlg.SetProgress("", std::to_string(p) + "%", p, 1);
    dlg.ShowMessageView();
  });
  EXPECT_FALSE(view.offUiThread);
  EXPECT_EQ(view.pos, 100);
  EXPECT_EQ(view.texts[kIdProgressText], "100%");
  EXPECT_TRUE(view.Visible(kIdMessageText));
}

TEST_F(WindowLogic, WorkerNeverHangsOnceTheWindowIsGone) {
  // The UI thread is not iterating: the worker waits (for the message view, which it does not
  // post) until the window goes away, then returns without touching the controls.
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    dlg.SetProgress("late", "42%", 42, 1);
    dlg.ShowMessageView();
    returned = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(returned.load());
  ui::UiThreadShutdown();
  for (int i = 0; i < 200 && !returned; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(returned.load());
  worker.join();
  EXPECT_NE(view.pos, 42);
  // A later run's loop does not replay the stale request.
  ui::UiThreadInit();
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
  EXPECT_NE(view.pos, 42);
}

// The extraction reports every entry; a UI thread busy elsewhere must not slow it down, and what
// it shows afterwards is the newest value, in one update.
TEST_F(WindowLogic, ProgressFromTheWorkerNeverWaitsForABusyUiThread) {
  const int n = 5000;
  std::atomic<bool> finished{false};
  std::thread worker([&] {
    for (int i = 1; i <= n; ++i) {
      dlg.SetProgress("", std::to_string(i) + "/" + std::to_string(n), 100 * i / n, 0);
      dlg.ShowProgressView();
    }
    finished = true;
  });
  // The loop is not iterated meanwhile.
  for (int i = 0; i < 1000 && !finished; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const bool finishedAlone = finished;
  EXPECT_TRUE(finishedAlone) << "the worker waited for the UI thread";
  if (!finishedAlone) ui::UiThreadShutdown();  // lets a waiting worker return
  worker.join();
  if (!finishedAlone) return;
  EXPECT_EQ(view.pos, 0);

  view.calls.clear();
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
  EXPECT_EQ(view.pos, 100);
  EXPECT_EQ(view.texts[kIdProgressText], "5000/5000");
  EXPECT_EQ(view.texts[kIdStatusLabel], "正在解压：");
  for (int id : {kIdProgressBar, kIdStatusLabel, kIdProgressText}) EXPECT_TRUE(view.Visible(id)) << id;
  EXPECT_FALSE(view.Visible(kIdMessageText));
  EXPECT_EQ(std::count(view.calls.begin(), view.calls.end(), "pos 100"), 1) << "one update for the whole burst";
}

// With the UI thread running alongside, the progress only ever moves forward, and the completion
// message that follows the last entry is what stays on screen.
TEST_F(WindowLogic, PostedProgressNeverShowsAfterTheMessageThatFollowsIt) {
  const int n = 5000;
  view.calls.clear();
  RunLoopWhileWorking([&] {
    for (int i = 1; i <= n; ++i) {
      dlg.SetProgress("", std::to_string(i) + "/" + std::to_string(n), 100 * i / n, 0);
      dlg.ShowProgressView();
    }
    dlg.SetProgress("更新已完成", "", 0, 0);
    dlg.ShowMessageView();
  });
  while (g_main_context_iteration(nullptr, FALSE)) {
  }

  EXPECT_FALSE(view.offUiThread);
  EXPECT_EQ(view.texts[kIdMessageText], "更新已完成");
  EXPECT_TRUE(view.Visible(kIdMessageText));
  for (int id : {kIdProgressBar, kIdStatusLabel, kIdProgressText}) EXPECT_FALSE(view.Visible(id)) << id;
  EXPECT_EQ(view.pos, 0);

  // Entry numbers shown only increase, and nothing of the progress follows the message view.
  int lastEntry = 0;
  size_t messageShown = std::string::npos;
  const std::string entryText = "text " + std::to_string(kIdProgressText) + "=";
  for (size_t k = 0; k < view.calls.size(); ++k) {
    const std::string& c = view.calls[k];
    if (c == "visible " + std::to_string(kIdMessageText) + "=1") messageShown = k;
    if (c.rfind(entryText, 0) == 0 && c.size() > entryText.size()) {
      const int entry = std::stoi(c.substr(entryText.size()));
      EXPECT_GT(entry, lastEntry) << c;
      lastEntry = entry;
    }
  }
  ASSERT_NE(messageShown, std::string::npos);
  for (size_t k = messageShown + 1; k < view.calls.size(); ++k) {
    const std::string& c = view.calls[k];
    EXPECT_TRUE(c.rfind("pos ", 0) != 0 && c.rfind(entryText, 0) != 0 && c.find("=1") == std::string::npos) << c;
  }
}

TEST_F(WindowLogic, ReadyCloseAndDestroyLogAndEndTheRun) {
  dlg.SetReady();
  EXPECT_TRUE(dlg.Content()->IsReady());
  EXPECT_NE(std::find(view.calls.begin(), view.calls.end(), "ready 1"), view.calls.end());

  dlg.Close();
  EXPECT_EQ(view.calls.back(), "end 1");
  dlg.OnDestroy();
  const std::string log = Log();
  const size_t ready = log.find("[INFO][CWebDlg::SetReady::84] SetReady");
  const size_t stop = log.find("[INFO][CWebDlg::Close::54] Laucher Stop");
  const size_t destroy = log.find("[INFO][CWebApp::OnWndDestroy::63] wnd destory");
  EXPECT_NE(ready, std::string::npos) << log;
  EXPECT_NE(stop, std::string::npos) << log;
  EXPECT_NE(destroy, std::string::npos) << log;
  EXPECT_LT(ready, stop);
  EXPECT_LT(stop, destroy);
}

TEST(WindowLayout, ControlsFitTheWindowAndStayClearOfThePage) {
  using namespace layout;
  const Rect progress[] = {kProgressBar, kStatusLabel, kProgressText, kMessageText};
  for (const Rect& r : progress) {
    EXPECT_GE(r.x, 0);
    EXPECT_LE(r.x + r.w, kWindowWidth);
    EXPECT_LE(r.y + r.h, kWindowHeight);
  }
  // The bar runs under the page; the labels sit left of it.
  EXPECT_GE(kProgressBar.y, kBrowser.y + kBrowser.h);
  EXPECT_LE(kMessageText.x + kMessageText.w, kBrowser.x);
  EXPECT_EQ(kProgressBar.x, 60);
  EXPECT_EQ(kProgressBar.w, 752);
  EXPECT_EQ(kProgressBar.y + kProgressBar.h, kWindowHeight);
  EXPECT_LE(kCloseButton.x + kCloseButton.w, kWindowWidth);
}

}  // namespace
