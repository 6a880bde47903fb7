// The page bridge against other origins, through the real web view: a login page on one loopback
// origin with frames of its own origin, of another origin (another port) and sandboxed; then a
// navigation of the whole view to the other origin. Only documents of the login page's origin get
// window.external, and only their calls reach the launcher; everything else is refused and logged
// with its origin, whatever the page tries (posing as the bridge's own channel included).
// httplib first: the X11 headers define macros (Success, ...) that its names collide with.
#include <httplib.h>

#include <gtest/gtest.h>

#include <gtk/gtk.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "browser/gtk/WebViewHost.h"
#include "log/LauncherLog.h"
#include "os/FileSystem.h"
#include "platform/XvfbServer.h"
#include "support/HttpServerThread.h"
#include "support/Sandbox.h"
#include "support/TestContext.h"
#include "support/UiLoop.h"
#include "ui/CImpIDispatch.h"
#include "ui/CWebCDlg.h"
#include "ui/CWebDlg.h"

namespace {

constexpr char kLoginPage[] = R"HTML(<!DOCTYPE html><html><head><title>login</title></head><body>
<script>
  window.__reports = [];
  window.addEventListener("message", function (e) {
    if (typeof e.data === "string" && e.data.indexOf("report:") === 0) window.__reports.push(e.data.substr(7));
  });
</script>
<iframe src="/frame"></iframe>
<iframe src="%OTHER%/frame"></iframe>
<iframe sandbox="allow-scripts" src="/frame"></iframe>
</body></html>)HTML";

// Every frame reports what it sees, tries the external object, and poses as the login page's own
// world by handing the bridge world a message port of its own.
constexpr char kFrame[] = R"HTML(<!DOCTYPE html><html><body><script>
  var kind = self.origin === "null" ? "sandboxed" : "%KIND%";
  var report = function (what) { parent.postMessage("report:" + kind + ":" + what, "*"); };
  report("external=" + typeof (window.external && window.external.AppLogin));
  report("handler=" + typeof (window.webkit && window.webkit.messageHandlers &&
                              window.webkit.messageHandlers.vellmoraExternal));
  try { window.external.JavascriptToCsharp("Probe", "from-" + kind); } catch (e) {}
  if (kind !== "same") {
    try { window.external.AppLogin("true|from-" + kind); } catch (e) {}
    var channel = new MessageChannel();
    window.postMessage("vellmora-external-port", "*", [channel.port1]);
    channel.port2.postMessage({ id: 2, args: ["true|forged-" + kind] });
  }
  report("done");
</script></body></html>)HTML";

// The whole view on the other origin: no external object, and a page that fishes for the launcher's
// path through the mirror and through a channel of its own.
constexpr char kForeignPage[] = R"HTML(<!DOCTYPE html><html><head><title>foreign</title></head><body><script>
  window.__leaked = "nothing";
  window.__external = typeof (window.external && window.external.AppLogin);
  window.__vellmoraMirror = function (ready, path) { window.__leaked = String(path); };
  var channel = new MessageChannel();
  window.postMessage("vellmora-external-port", "*", [channel.port1]);
  channel.port2.onmessage = function (e) { window.__leaked = JSON.stringify(e.data); };
  channel.port2.postMessage({ id: 2, args: ["true|forged-top"] });
</script></body></html>)HTML";

void Replace(std::string& s, const std::string& what, const std::string& with) {
  for (size_t p; (p = s.find(what)) != std::string::npos;) s.replace(p, what.size(), with);
}

// A page origin: its address is known (bound) before it answers (Start).
struct Origin : HttpServerThread {
  explicit Origin(const std::string& kind) {
    Bind();
    httplib::Server& server = Server();
    server.Get("/frame", [kind](const httplib::Request&, httplib::Response& res) {
      std::string page = kFrame;
      Replace(page, "%KIND%", kind);
      res.set_content(page, "text/html");
    });
    server.Get("/foreign",
               [](const httplib::Request&, httplib::Response& res) { res.set_content(kForeignPage, "text/html"); });
    server.Get("/news", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("<html><body>news</body></html>", "text/html");
    });
  }
  std::string Url(const std::string& path = "") const { return HttpServerThread::Url(path); }
};

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

struct HostilePage : ::testing::Test {
  void SetUp() override {
    if (!std::getenv("DISPLAY")) xvfb = std::make_unique<XvfbServer>();
    if (!gtk_init_check(nullptr, nullptr)) GTEST_SKIP() << "no display";
    box.MakeDrives(true);
    os::MakeDirectories(box.InstallDir());
    context.SettleIn(box.InstallDir());
    dlg.CreateContent();
    login.Server().Get("/login", [this](const httplib::Request&, httplib::Response& res) {
      std::string page = kLoginPage;
      Replace(page, "%OTHER%", other.Url());
      res.set_content(page, "text/html");
    });
    login.Start();
    other.Start();
    host = std::make_unique<WebViewHost>(
        [this](int id, const std::vector<std::string>& reversed) {
          std::string call = std::to_string(id);
          for (auto it = reversed.rbegin(); it != reversed.rend(); ++it) call += "|" + it->substr(0, 40);
          calls.push_back(call);
          bridge.Invoke(id, reversed, false);
        },
        [this](const std::string& uri) { opened.push_back(uri); });
    window = gtk_offscreen_window_new();
    gtk_widget_set_size_request(host->Widget(), 800, 600);
    gtk_container_add(GTK_CONTAINER(window), host->Widget());
    gtk_widget_show_all(window);
    host->SetMirror(false, "/opt/launcher/vellmora");
  }
  void TearDown() override {
    if (window) gtk_widget_destroy(window);
    host.reset();
    LauncherLog::Instance().Close();
  }
  std::string Log() const { return Sandbox::ReadFile(box.LogPath()); }
  bool Called(const std::string& what) const {
    return std::any_of(calls.begin(), calls.end(),
                       [&](const std::string& c) { return c.find(what) != std::string::npos; });
  }

  std::unique_ptr<XvfbServer> xvfb;
  Sandbox box;
  TestContext context;
  CWebDlg dlg{context.Get()};
  CImpIDispatch bridge{[this] { return &dlg; }};
  Origin login{"same"}, other{"other"};
  std::unique_ptr<WebViewHost> host;
  GtkWidget* window = nullptr;
  std::vector<std::string> calls, opened;
};

TEST_F(HostilePage, OnlyTheLoginOriginReachesTheLauncher) {
  WebKitWebView* page = host->View();
  host->Navigate(login.Url("/login"));
  ASSERT_TRUE(
      PumpUntil([&] { return Eval(page, "String(window.__reports && window.__reports.length)") == "9"; }, 20000))
      << Eval(page, "JSON.stringify(window.__reports)");

  // What each frame saw: the external object only in the frame of the login page's origin, the
  // bridge's own channel nowhere.
  const std::string reports = Eval(page, "window.__reports.slice().sort().join(' ')");
  for (const char* seen : {"same:external=function", "other:external=undefined", "sandboxed:external=undefined",
                           "same:handler=undefined", "other:handler=undefined", "sandboxed:handler=undefined"})
    EXPECT_NE(reports.find(seen), std::string::npos) << seen << " in " << reports;

  // The main frame: exactly the three methods, nothing else of the bridge in sight.
  EXPECT_EQ(Eval(page, "Object.getOwnPropertyNames(window.external).sort().join(',')"),
            "AppLogin,IsDownLoadComplete,JavascriptToCsharp");
  EXPECT_EQ(Eval(page, "typeof window.__vellmoraMirror"), "undefined");

  // Calls and what the page gets back; refused calls reach neither the window nor the login.
  const std::string big = "'x'.repeat(65536)", tooBig = "'x'.repeat(65537)";
  struct Case {
    std::string script;
    std::string answer;
    const char* reaches;  // the call as the launcher receives it, or null when it must not
  } cases[] = {
      {"window.external.JavascriptToCsharp('GetCommandLine', '')", "/opt/launcher/vellmora", "1|GetCommandLine|"},
      // Arguments before those a method reads are ignored, whatever their size.
      {"window.external.JavascriptToCsharp('lead', 'GetCommandLine', 'surplus')", "/opt/launcher/vellmora",
       "1|GetCommandLine|surplus"},
      {"window.external.JavascriptToCsharp(" + tooBig + ", 'Lead', 'big')", "", "1|Lead|big"},
      {"window.external.AppLogin('true|lead', 'surplus-login')", "", "2|surplus-login"},
      {"window.external.JavascriptToCsharp('Echo', " + tooBig + ")", "undefined", nullptr},
      {"window.external.JavascriptToCsharp('Big', " + big + ")", "", "1|Big|xxxx"},
      {"window.external.IsDownLoadComplete(1)", "false", nullptr},
      {"window.external.IsDownLoadComplete()", "false", nullptr},
      {"window.external.AppLogin('true|from-main')", "", "2|true|from-main"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Eval(page, "String(" + c.script + ")"), c.answer) << c.script;
    if (c.reaches) {
      EXPECT_TRUE(PumpUntil([&] { return Called(c.reaches); }, 5000)) << c.script;
    }
  }
  PumpFor(500);
  const std::string log = Log();
  EXPECT_EQ(log.find(" arguments for "), std::string::npos) << log;
  EXPECT_FALSE(Called("true|lead"));
  EXPECT_NE(log.find("[ERROR][WebViewHost::OnScriptMessage::"), std::string::npos) << log;
  EXPECT_NE(log.find("call refused: an argument is not text or longer than 65536 characters"), std::string::npos);

  // The frames: the login origin's call arrived, no other origin's did, each refusal names its origin.
  EXPECT_TRUE(Called("1|Probe|from-same"));
  for (const char* never : {"other", "sandboxed", "forged"}) EXPECT_FALSE(Called(never)) << never;
  EXPECT_GE(Count(log, "call from another origin refused: " + other.Url() + "\n"), 1u) << log;
  EXPECT_GE(Count(log, "call from another origin refused: null\n"), 1u) << log;
  EXPECT_TRUE(dlg.Content()->IsLoggedIn());
  EXPECT_EQ(dlg.Content()->LoginParameters(), "from-main");

  // The whole view on another origin: it loads, without the bridge; its calls are refused and
  // the launcher's path never reaches it, neither through the mirror nor through its own channel.
  Eval(page, "location.href = '" + other.Url("/foreign") + "'; 1");
  ASSERT_TRUE(PumpUntil([&] { return Eval(page, "document.title") == "foreign"; }, 10000));
  EXPECT_EQ(Eval(page, "window.__external"), "undefined");
  host->SetMirror(true, "/secret/launcher/path");
  PumpFor(800);
  EXPECT_EQ(Eval(page, "window.__leaked"), "nothing");
  EXPECT_FALSE(Called("forged-top"));
  EXPECT_GE(Count(Log(), "call from another origin refused: " + other.Url() + "\n"), 2u);
}

// New windows: only web addresses go to the default browser; any other scheme is dropped and logged.
TEST_F(HostilePage, NewWindowsOpenOnlyWebAddresses) {
  WebKitWebView* page = host->View();
  host->Navigate(login.Url("/login"));
  ASSERT_TRUE(PumpUntil([&] { return Eval(page, "document.title") == "login"; }, 20000));
  struct Case {
    std::string uri;
    bool opens;
  } cases[] = {
      {other.Url("/news"), true},
      {"https://example.invalid/page", true},
      {"smb://fileserver/share", false},
      {"ssh://user@host", false},
      {"file:///etc/passwd", false},
      {"vellmora-custom-handler:run?x=1", false},
      {"mailto:someone@example.invalid", false},
      {"data:text/html,<p>x</p>", false},
  };
  std::vector<std::string> expected;
  for (const Case& c : cases) {
    Eval(page, "window.open('" + c.uri + "'); 1");
    if (c.opens) expected.push_back(c.uri);
  }
  PumpFor(500);
  EXPECT_EQ(opened, expected);
  const std::string log = Log();
  for (const Case& c : cases) {
    if (!c.opens) {
      EXPECT_NE(log.find("new window refused: " + c.uri.substr(0, 12)), std::string::npos) << c.uri;
    }
  }
  EXPECT_EQ(host->NewViewRequests(), static_cast<int>(std::size(cases)));
}

// New windows without a user's click are dropped, and clicks open at most 3 browser windows a
// minute. (A script the launcher runs in the page counts as a click.)
TEST_F(HostilePage, NewWindowsNeedAClickAndAreFewAMinute) {
  WebKitWebView* page = host->View();
  login.Server().Get("/popups", [this](const httplib::Request&, httplib::Response& res) {
    res.set_content("<html><head><title>popups</title></head><body><script>window.open('" + other.Url("/news?load") +
                        "'); setTimeout(function () { window.open('" + other.Url("/news?timer") +
                        "'); document.title = 'tried'; }, 200);</script></body></html>",
                    "text/html");
  });
  host->Navigate(login.Url("/popups"));
  ASSERT_TRUE(PumpUntil([&] { return Eval(page, "document.title") == "tried"; }, 20000));
  PumpFor(300);
  EXPECT_TRUE(opened.empty()) << opened.size();
  for (int i = 1; i <= 5; ++i) Eval(page, "window.open('" + other.Url("/news?click" + std::to_string(i)) + "'); 1");
  PumpFor(300);
  const std::vector<std::string> expected = {other.Url("/news?click1"), other.Url("/news?click2"),
                                             other.Url("/news?click3")};
  EXPECT_EQ(opened, expected);
  const std::string log = Log();
  for (const char* refused :
       {"new window refused (no user gesture): ", "new window refused (more than 3 a minute): "}) {
    EXPECT_EQ(Count(log, refused), 2u) << refused << "\n" << log;
  }
  EXPECT_NE(log.find("[ERROR][WebViewHost::OnCreate::"), std::string::npos);
}

// A frame of another origin tries to move the main frame away: refused without a click, done on
// one; the main frame itself still goes wherever its own script sends it.
TEST_F(HostilePage, OnlyAClickLetsAFrameMoveTheMainFrame) {
  WebKitWebView* page = host->View();
  // Requests for the address the frame sends the main frame to (counted on the server's thread).
  auto bustedCount = std::make_shared<std::atomic<int>>(0);
  other.Server().Get("/bust", [this](const httplib::Request&, httplib::Response& res) {
    res.set_content(
        "<html><body style='margin:0'><div id='d' style='width:300px;height:300px'></div><script>"
        "var go = function () { try { top.location.href = '" +
            other.Url("/busted") +
            "'; } catch (e) {} };"
            "document.getElementById('d').addEventListener('click', go);"
            "go(); parent.postMessage('tried', '*');</script></body></html>",
        "text/html");
  });
  other.Server().Get("/busted", [bustedCount](const httplib::Request&, httplib::Response& res) {
    ++*bustedCount;
    res.set_content("<html><head><title>busted</title></head></html>", "text/html");
  });
  login.Server().Get("/framed", [this](const httplib::Request& req, httplib::Response& res) {
    // ?self: the main frame moves itself once the frame has tried, without a click.
    const std::string self = req.has_param("self")
                                 ? "setTimeout(function () { location.href = '" + other.Url("/foreign") + "'; }, 100);"
                                 : "";
    res.set_content(
        "<html><head><title>framed</title></head><body style='margin:0'>"
        "<script>window.addEventListener('message', function (e) { if (e.data === 'tried') {"
        "document.title = 'tried'; " +
            self +
            "} });</script><iframe style='position:fixed;left:0;top:0;width:300px;height:300px;"
            "border:0' src='" +
            other.Url("/bust") + "'></iframe></body></html>",
        "text/html");
  });

  // Without a click: the main frame stays.
  host->Navigate(login.Url("/framed"));
  ASSERT_TRUE(PumpUntil([&] { return Eval(page, "document.title") == "tried"; }, 20000));
  PumpFor(1000);
  EXPECT_EQ(Eval(page, "document.title"), "tried");
  EXPECT_EQ(bustedCount->load(), 0);

  // A click inside the frame: it may.
  GdkWindow* target = gtk_widget_get_window(host->Widget());
  GdkDevice* pointer = gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_display_get_default()));
  for (GdkEventType type : {GDK_BUTTON_PRESS, GDK_BUTTON_RELEASE}) {
    GdkEvent* event = gdk_event_new(type);
    event->button.window = GDK_WINDOW(g_object_ref(target));
    event->button.send_event = TRUE;
    event->button.time = GDK_CURRENT_TIME;
    event->button.x = 50;
    event->button.y = 50;
    event->button.button = 1;
    gdk_event_set_device(event, pointer);
    gtk_widget_event(host->Widget(), event);
    gdk_event_free(event);
    PumpFor(50);
  }
  EXPECT_TRUE(PumpUntil([&] { return Eval(page, "document.title") == "busted"; }, 10000));
  EXPECT_EQ(bustedCount->load(), 1);

  // The main frame's own script: anywhere, click or not.
  Eval(page, "location.href = '" + login.Url("/framed?self") + "'; 1");
  EXPECT_TRUE(PumpUntil([&] { return Eval(page, "document.title") == "foreign"; }, 10000));
  EXPECT_EQ(bustedCount->load(), 1);
}

// The login page's address redirects to another origin: the bridge serves the origin the
// navigation ended on, and no longer the one it started from.
TEST_F(HostilePage, TheBridgeServesTheOriginTheLoginAddressRedirectsTo) {
  WebKitWebView* page = host->View();
  login.Server().Get(
      "/entry", [this](const httplib::Request&, httplib::Response& res) { res.set_redirect(other.Url("/landing")); });
  other.Server().Get("/landing", [this](const httplib::Request&, httplib::Response& res) {
    res.set_content(
        "<html><head><title>landing</title></head><body><script>"
        "window.__frame = 'pending';"
        "window.addEventListener('message', function (e) { window.__frame = String(e.data); });"
        "</script><iframe src='" +
            login.Url("/probe") + "'></iframe></body></html>",
        "text/html");
  });
  login.Server().Get("/probe", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(
        "<html><body><script>parent.postMessage('external=' + typeof (window.external && "
        "window.external.AppLogin), '*');"
        "try { window.external.AppLogin('true|from-entry-origin'); } catch (e) {}</script></body></html>",
        "text/html");
  });
  host->Navigate(login.Url("/entry"));
  ASSERT_TRUE(PumpUntil([&] { return Eval(page, "String(window.__frame).indexOf('external=')") == "0"; }, 20000));
  EXPECT_EQ(Eval(page, "document.title"), "landing");
  EXPECT_EQ(Eval(page, "typeof (window.external && window.external.AppLogin)"), "function");
  EXPECT_EQ(Eval(page, "window.external.JavascriptToCsharp('GetCommandLine', '')"), "/opt/launcher/vellmora");
  EXPECT_EQ(Eval(page, "String(window.external.AppLogin('true|redirected'))"), "");
  ASSERT_TRUE(PumpUntil([&] { return Called("2|true|redirected"); }, 5000));
  EXPECT_TRUE(dlg.Content()->IsLoggedIn());
  EXPECT_EQ(dlg.Content()->LoginParameters(), "redirected");
  // The address it started from is another origin now.
  EXPECT_EQ(Eval(page, "window.__frame"), "external=undefined");
  EXPECT_FALSE(Called("from-entry-origin"));
  EXPECT_NE(Log().find("the login page answered from " + other.Url()), std::string::npos);
}

// Every document of the login origin reads the current ready value: the main frame, a frame, and a
// frame inside a frame of another origin.
TEST_F(HostilePage, EveryLoginOriginFrameReadsTheCurrentReadyValue) {
  WebKitWebView* page = host->View();
  login.Server().Get("/ready", [this](const httplib::Request&, httplib::Response& res) {
    res.set_content(
        "<html><head><title>ready</title></head><body><script>window.__ready = {};"
        "window.addEventListener('message', function (e) { var m = String(e.data).split(':');"
        "if (m[0] === 'ready') window.__ready[m[1]] = m[2]; });</script>"
        "<iframe src='/ready-frame?same'></iframe><iframe src='" +
            other.Url("/wrap") + "'></iframe></body></html>",
        "text/html");
  });
  login.Server().Get("/ready-frame", [](const httplib::Request& req, httplib::Response& res) {
    const std::string kind = req.has_param("nested") ? "nested" : "same";
    res.set_content("<html><body><script>setInterval(function () { top.postMessage('ready:" + kind +
                        ":' + window.external.IsDownLoadComplete(), '*'); }, 50);</script></body></html>",
                    "text/html");
  });
  other.Server().Get("/wrap", [this](const httplib::Request&, httplib::Response& res) {
    res.set_content("<html><body><iframe src='" + login.Url("/ready-frame?nested") + "'></iframe></body></html>",
                    "text/html");
  });
  host->Navigate(login.Url("/ready"));
  const std::string seen =
      "JSON.stringify([window.__ready && window.__ready.same, "
      "window.__ready && window.__ready.nested, window.external.IsDownLoadComplete()])";
  ASSERT_TRUE(PumpUntil([&] { return Eval(page, seen) == "[\"false\",\"false\",false]"; }, 20000)) << Eval(page, seen);
  host->SetMirror(true, "/opt/launcher/vellmora");
  EXPECT_TRUE(PumpUntil([&] { return Eval(page, seen) == "[\"true\",\"true\",true]"; }, 5000)) << Eval(page, seen);
}

}  // namespace
