// The page's external object and the login it reports, without a browser: the calls arrive as
// the browser host hands them over (dispatch id, arguments reversed).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "log/LauncherLog.h"
#include "os/FileSystem.h"
#include "os/MessageBox.h"
#include "os/Process.h"
#include "support/Sandbox.h"
#include "support/TestContext.h"
#include "ui/CImpIDispatch.h"
#include "ui/CWebCDlg.h"
#include "ui/CWebDlg.h"

namespace {

using Value = CImpIDispatch::Value;

struct Bridge : ::testing::Test {
  void SetUp() override {
    box.MakeDrives(true);
    os::MakeDirectories(box.InstallDir());
    LauncherLog::Instance().Open(box.LogPath());
    os::SetMessageBoxPresenter(
        [this](const std::string& text, const std::string& caption, os::MsgIcon icon, os::MsgButtons) {
          boxes.push_back(text + "|" + caption + "|" + std::to_string(static_cast<int>(icon)));
          return os::MsgAnswer::Ok;
        });
    // No installation is settled, so a launch starts nothing; the launch itself is covered by
    // the launch tests. Launches are counted by their telemetry.
    dlg.CreateContent();
  }
  void TearDown() override { os::SetMessageBoxPresenter(nullptr); }

  // Closing flushes the file; the next test reopens it.
  std::string Log() const {
    LauncherLog::Instance().Close();
    return Sandbox::ReadFile(box.LogPath());
  }
  CWebCDlg& content() { return *dlg.Content(); }
  static int Launches(const RecordingTelemetry& telemetry) {
    int n = 0;
    for (int event : telemetry.Events()) n += event == GameStart;
    return n;
  }
  int launches() const { return Launches(context.Telemetry()); }

  Sandbox box;
  TestContext context;
  CWebDlg dlg{context.Get()};
  CImpIDispatch bridge{[this] { return &dlg; }};
  std::vector<std::string> boxes;
};

TEST_F(Bridge, MethodTable) {
  struct Case {
    std::vector<std::string> names;
    std::vector<long> ids;
    long status;
  } cases[] = {
      {{"JavascriptToCsharp"}, {1}, CImpIDispatch::kOk},
      {{"AppLogin"}, {2}, CImpIDispatch::kOk},
      {{"IsDownLoadComplete"}, {3}, CImpIDispatch::kOk},
      {{"applogin"}, {-1}, CImpIDispatch::kUnknownName},
      {{"Missing"}, {-1}, CImpIDispatch::kUnknownName},
      // Every slot looks up the member name.
      {{"AppLogin", "parameters"}, {2, 2}, CImpIDispatch::kOk},
  };
  for (const Case& c : cases) {
    const CImpIDispatch::IdsResult r = bridge.GetIDsOfNames(c.names);
    EXPECT_EQ(r.ids, c.ids) << c.names[0];
    EXPECT_EQ(r.status, c.status) << c.names[0];
  }
  EXPECT_EQ(static_cast<unsigned long>(CImpIDispatch::kUnknownName), 0x80020006ul);
}

TEST_F(Bridge, IsDownLoadCompleteFollowsReady) {
  EXPECT_EQ(bridge.Invoke(3, {}, true), Value(false));
  EXPECT_EQ(bridge.Invoke(3, {}, false), Value());
  content().SetReady();
  EXPECT_EQ(bridge.Invoke(3, {}, true), Value(true));
  EXPECT_EQ(launches(), 0);
}

// Each case is a fresh window: the AppLogin arguments in order, then the expected state.
TEST_F(Bridge, LoginResults) {
  struct Case {
    std::vector<std::string> reports;
    bool loggedIn;
    const char* parameters;
    size_t messages;
    const char* logLine;
  } cases[] = {
      {{"TRUE|p"}, true, "p", 0, "[INFO][CWebCDlg::OnLoginResult::402] is logic suc!\n"},
      {{"true"}, false, "", 0, "[INFO][CWebCDlg::OnLoginResult::392] paramters is error!\n"},
      {{""}, false, "", 0, "[INFO][CWebCDlg::OnLoginResult::385] paramters is error!\n"},
      {{"false|p"}, false, "", 1, nullptr},
      {{"false|p", "true|q"}, true, "q", 1, "is logic suc!"},
      {{"true|a|b"}, true, "a", 0, "is logic suc!"},
      {{"true|"}, true, "", 0, "is logic suc!"},
      {{"|x"}, false, "", 1, nullptr},
      {{"true|first", "true|second"}, true, "first", 0, "[INFO][CWebCDlg::OnLoginResult::377] already login\n"},
  };
  for (const Case& c : cases) {
    TestContext run;
    CWebDlg window(run.Get());
    window.CreateContent();
    CImpIDispatch external([&window] { return &window; });
    boxes.clear();
    LauncherLog::Instance().Open(box.LogPath());
    for (const std::string& report : c.reports) EXPECT_EQ(external.Invoke(2, {report}, true), Value(std::string()));
    EXPECT_EQ(window.Content()->IsLoggedIn(), c.loggedIn) << c.reports[0];
    EXPECT_EQ(window.Content()->LoginParameters(), c.parameters) << c.reports[0];
    ASSERT_EQ(boxes.size(), c.messages) << c.reports[0];
    if (c.messages) {
      EXPECT_EQ(boxes[0], "登录验证未通过|" + os::ApplicationName() + "|1");
    }
    if (c.logLine) {
      EXPECT_NE(Log().find(c.logLine), std::string::npos) << c.reports[0];
    }
    EXPECT_EQ(Launches(run.Telemetry()), 0) << "not ready: nothing starts";
  }
}

TEST_F(Bridge, JavascriptToCsharpDispatchesOnTheExactMethod) {
  // Arguments are reversed: {parameters, method}.
  EXPECT_EQ(bridge.Invoke(1, {"x", "GetCommandLine"}, true), Value(os::ExecutablePath()));
  EXPECT_EQ(bridge.Invoke(1, {"x", "getcommandline"}, true), Value(std::string()));
  EXPECT_EQ(bridge.Invoke(1, {"x", "GetCommandLine"}, false), Value());
  // A single argument (or none) does nothing at all.
  EXPECT_EQ(bridge.Invoke(1, {"GetCommandLine"}, true), Value());
  EXPECT_EQ(bridge.Invoke(1, {}, true), Value());
  EXPECT_EQ(bridge.Invoke(2, {}, true), Value());
  EXPECT_EQ(bridge.Invoke(9, {"a", "b"}, true), Value());

  EXPECT_EQ(bridge.Invoke(1, {"true|p", "LoginResult"}, true), Value(std::string()));
  EXPECT_TRUE(content().IsLoggedIn());
  EXPECT_EQ(content().LoginParameters(), "p");

  const std::string log = Log();
  EXPECT_NE(log.find("[INFO][CWebCDlg::JavascriptToCPLUSPLUS::185] method:GetCommandLine,paramters:x\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("method:LoginResult,paramters:true|p\n"), std::string::npos) << log;
  // Exactly two calls with "GetCommandLine" plus one lower-case and one login reached the window.
  size_t calls = 0;
  for (size_t at = log.find("method:"); at != std::string::npos; at = log.find("method:", at + 1)) ++calls;
  EXPECT_EQ(calls, 4u) << log;
}

TEST_F(Bridge, LongParametersAreLoggedShortened) {
  const std::string parameters(5000, 'a');
  bridge.Invoke(1, {parameters, "Other"}, true);
  const std::string log = Log();
  const size_t at = log.find("method:Other,paramters:");
  ASSERT_NE(at, std::string::npos);
  const size_t end = log.find('\n', at);
  EXPECT_EQ(end - at, 2047u);
}

// A method reads the script's last arguments, as many as it takes: any before them are ignored,
// whatever their size. A read string over 65536 UTF-16 units is refused with an ERROR line and
// nothing reaches the window. (Arguments arrive reversed.)
TEST_F(Bridge, SurplusArgumentsAreIgnoredAndOverlongOnesRefused) {
  const std::string longest(65536, 'x');
  const std::string tooLong(65537, 'x');
  // Counted in UTF-16 units, not bytes: 30000 CJK characters are 90000 bytes but fit.
  std::string cjk;
  for (int i = 0; i < 30000; ++i) cjk += "中";
  const Value path(os::ExecutablePath());
  const Value empty{std::string()};
  struct Case {
    long id;
    std::vector<std::string> args;
    Value answer;
    const char* logLine;  // what the window logs for an accepted call, or the refusal
    bool refused;
  } cases[] = {
      {1, {"x", "GetCommandLine"}, path, "method:GetCommandLine,paramters:x\n", false},
      {1, {"x", "GetCommandLine", "extra"}, path, "method:GetCommandLine,paramters:x\n", false},
      {1, {"x", "GetCommandLine", tooLong, "more"}, path, "method:GetCommandLine,paramters:x\n", false},
      {3, {"x"}, Value(false), nullptr, false},
      {1, {longest, "Echo"}, empty, "method:Echo,paramters:xxxx", false},
      {1, {cjk, "Echo"}, empty, "method:Echo,paramters:中中", false},
      {1, {tooLong, "Echo"}, Value(), "call refused: an argument of JavascriptToCsharp is longer than 65536", true},
      {1, {"x", tooLong}, Value(), "call refused: an argument of JavascriptToCsharp is longer than 65536", true},
      {2, {"true|" + tooLong}, Value(), "call refused: an argument of AppLogin is longer than 65536", true},
      {2, {"true|p", "ignored"}, empty, "method:LoginResult,paramters:true|p\n", false},
  };
  for (const Case& c : cases) {
    std::remove(box.LogPath().c_str());  // this case's lines only
    LauncherLog::Instance().Open(box.LogPath());
    EXPECT_EQ(bridge.Invoke(c.id, c.args, true), c.answer) << c.id << " " << c.args.size();
    const std::string log = Log();
    if (c.logLine) {
      EXPECT_NE(log.find(c.logLine), std::string::npos) << log.substr(0, 300);
    }
    EXPECT_EQ(log.find("[ERROR][CImpIDispatch::Invoke::59] ") != std::string::npos, c.refused);
    if (c.refused) {
      EXPECT_EQ(log.find("JavascriptToCPLUSPLUS"), std::string::npos);
    }
  }
  EXPECT_TRUE(content().IsLoggedIn());
  EXPECT_EQ(content().LoginParameters(), "p");
}

TEST_F(Bridge, NoMainWindowAnswersEmpty) {
  CImpIDispatch orphan([] { return static_cast<CWebDlg*>(nullptr); });
  EXPECT_EQ(orphan.Invoke(1, {"x", "GetCommandLine"}, true), Value(std::string()));
  EXPECT_EQ(orphan.Invoke(3, {}, true), Value(false));
}

// The ready mark (update worker) and the login (UI thread) race; whichever completes the pair
// starts the game, and it starts exactly once.
TEST(ReadyLoginRace, GameStartsExactlyOnce) {
  Sandbox box;
  box.MakeDrives(true);
  os::MakeDirectories(box.InstallDir());
  LauncherLog::Instance().Open(box.LogPath());
  // A launch begins with its telemetry event: count the launches there, and check that each saw
  // both flags set. No installation is settled, so nothing is started.
  struct LaunchProbe : NullTelemetry {
    void LogEvent(int event) override {
      if (event != GameStart) return;
      ++starts;
      if (!content->IsReady() || !content->IsLoggedIn()) sawBoth = false;
    }
    CWebCDlg* content = nullptr;
    std::atomic<int> starts{0};
    std::atomic<bool> sawBoth{true};
  };
  for (int round = 0; round < 500; ++round) {
    LaunchProbe probe;
    LauncherContext context(probe, MachineInfo{}, "", "vellmora");
    CWebDlg window(context);
    window.CreateContent();
    CWebCDlg& content = *window.Content();
    probe.content = &content;
    std::atomic<int>& starts = probe.starts;
    std::atomic<bool>& sawBoth = probe.sawBoth;
    std::atomic<int> waiting{2};
    auto gate = [&waiting] {
      --waiting;
      while (waiting.load() > 0) {
      }
    };
    std::thread worker([&] {
      gate();
      content.SetReady();
    });
    std::thread page([&] {
      gate();
      content.OnLoginResult("true|p");
    });
    worker.join();
    page.join();
    ASSERT_EQ(starts.load(), 1) << "round " << round;
    ASSERT_TRUE(sawBoth.load());
  }
}

}  // namespace
