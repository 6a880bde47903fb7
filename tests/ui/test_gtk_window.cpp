// The real launcher window under X (Xvfb when no display is set): shape, page bridge, script
// dialogs, key filter, new windows, the close button. Screenshots go to <build>/test-artifacts.
// httplib first: the X11 headers define macros (Success, ...) that its names collide with.
#include <httplib.h>

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <atk/atk.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "browser/gtk/WebViewHost.h"
#include "controls/gtk/PngImage.h"
#include "log/LauncherLog.h"
#include "os/FileSystem.h"
#include "os/Process.h"
#include "support/HttpServerThread.h"
#include "support/Sandbox.h"
#include "support/TestContext.h"
#include "support/UiLoop.h"
#include "ui/CImpIDispatch.h"
#include "ui/CWebDlg.h"
#include "ui/Layout.h"
#include "ui/gtk/ContentView.h"
#include "ui/gtk/GtkFrontEnd.h"
#include "ui/gtk/MainWindowView.h"

namespace {

// A private Xvfb (never the user's desktop: the test paints the root window and types keys);
// torn down with the test program. Without Xvfb the test skips.
class XServer {
 public:
  static bool Ensure() {
    static XServer server;
    return server.ok_;
  }

 private:
  XServer() {
    if (access("/usr/bin/Xvfb", X_OK) != 0) return;
    for (int n = 90 + getpid() % 50; n < 190 && pid_ <= 0; ++n) {
      const std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
      if (access(lock.c_str(), F_OK) == 0) continue;
      pid_ = fork();
      if (pid_ == 0) {
        const std::string display = ":" + std::to_string(n);
        execl("/usr/bin/Xvfb", "Xvfb", display.c_str(), "-screen", "0", "1280x800x24", "-nolisten", "tcp",
              static_cast<char*>(nullptr));
        _exit(127);
      }
      const std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
      for (int i = 0; i < 100 && access(socket.c_str(), F_OK) != 0; ++i) usleep(50 * 1000);
      if (access(socket.c_str(), F_OK) == 0) {
        setenv("DISPLAY", (":" + std::to_string(n)).c_str(), 1);
        ok_ = true;
      } else {
        Stop();
      }
    }
  }
  ~XServer() { Stop(); }
  void Stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    pid_ = 0;
  }
  pid_t pid_ = 0;
  bool ok_ = false;
};

constexpr char kPage[] = R"HTML(<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>login</title>
<style>
 body { margin:0; height:2400px; font-family:sans-serif; color:#f3e6c0;
        background:linear-gradient(#141a3a,#262058 600px,#141a3a); }
 .card { margin:70px auto 0; width:320px; padding:26px 30px; border:1px solid #c9993f;
         background:rgba(10,12,30,.75); border-radius:6px; }
 h1 { font:600 24px serif; letter-spacing:3px; text-align:center; margin:0 0 18px; color:#e9c86e; }
 input { width:100%; box-sizing:border-box; margin:6px 0 12px; padding:8px; border:1px solid #6b5a2a;
         background:#0b0e22; color:#fff; }
 button { width:100%; padding:10px; border:0; background:linear-gradient(#e9c86e,#9c6e24);
          color:#1b1204; font-weight:700; letter-spacing:2px; }
 p { text-align:center; font-size:13px; }
</style></head>
<body>
 <div class="card"><h1>VELLMORA</h1>
  <label>账号</label><input id="user" value="adventurer">
  <label>密码</label><input id="pass" type="password" value="secret">
  <button id="go">登 录</button>
  <p><a href="/news" target="_blank" style="color:#9cc3ff">新闻公告</a></p>
 </div>
 <script>
  window.__keys = [];
  window.__ctrlWheels = 0;
  window.__contextMenus = 0;
  document.addEventListener('contextmenu', function () { window.__contextMenus++; });
  document.addEventListener('wheel', function (e) { if (e.ctrlKey) window.__ctrlWheels++; });
  document.addEventListener('keydown', function (e) {
    window.__keys.push((e.ctrlKey ? 'C-' : '') + e.key.toLowerCase());
  });
 </script>
</body></html>)HTML";

// The login page and a news page.
struct LoopbackServer : HttpServerThread {
  LoopbackServer() {
    Server().Get("/login", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(kPage, "text/html; charset=utf-8");
    });
    Server().Get("/news", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("<html><body>news</body></html>", "text/html");
    });
    Start();
  }
};

// Saves the window's area of the screen; returns the path or "" when the grab failed.
std::string Screenshot(GtkWidget* window, const std::string& name) {
  const std::string dir = std::string(VELLMORA_BINARY_DIR) + "/test-artifacts";
  os::MakeDirectories(dir);
  int x = 0, y = 0;
  gdk_window_get_origin(gtk_widget_get_window(window), &x, &y);
  const std::string path = dir + "/" + name;
  const std::string cmd = "import -window root -crop 950x632+" + std::to_string(x) + "+" + std::to_string(y) +
                          " +repage '" + path + "' 2>/dev/null";
  return RunShell(cmd) == 0 ? path : "";
}

// A root pixel (0xRRGGBB) read from the X server.
unsigned long RootPixel(int x, int y) {
  Display* dpy = gdk_x11_display_get_xdisplay(gdk_display_get_default());
  XImage* img = XGetImage(dpy, DefaultRootWindow(dpy), x, y, 1, 1, AllPlanes, ZPixmap);
  if (!img) return 0xFFFFFFFF;
  const unsigned long p = XGetPixel(img, 0, 0) & 0xFFFFFF;
  XDestroyImage(img);
  return p;
}

// True when every row of the strip has one colour, the colour just left of it.
bool EdgeIsPlain(int x, int y, int w, int h) {
  Display* dpy = gdk_x11_display_get_xdisplay(gdk_display_get_default());
  XImage* img = XGetImage(dpy, DefaultRootWindow(dpy), x - 8, y, w + 8, h, AllPlanes, ZPixmap);
  if (!img) return false;
  bool plain = true;
  for (int row = 0; row < h && plain; ++row) {
    const unsigned long reference = XGetPixel(img, 0, row);
    for (int col = 8; col < w + 8; ++col) plain = plain && XGetPixel(img, col, row) == reference;
  }
  XDestroyImage(img);
  return plain;
}

// Finds the top-level message box with the given title, if one is open.
GtkMessageDialog* FindDialog(const char* title) {
  GList* all = gtk_window_list_toplevels();
  GtkMessageDialog* found = nullptr;
  for (GList* l = all; l; l = l->next) {
    if (GTK_IS_MESSAGE_DIALOG(l->data) && gtk_widget_get_visible(GTK_WIDGET(l->data))) {
      const char* t = gtk_window_get_title(GTK_WINDOW(l->data));
      if (t && std::string(t) == title) found = GTK_MESSAGE_DIALOG(l->data);
    }
  }
  g_list_free(all);
  return found;
}

// The update worker stand-in: runs the window operations the test hands it, on its own thread.
class FakeWorker {
 public:
  void Start() {
    thread_ = std::thread([this] {
      std::unique_lock<std::mutex> lock(m_);
      while (true) {
        cv_.wait(lock, [this] { return stop_ || !jobs_.empty(); });
        if (jobs_.empty()) return;
        auto job = std::move(jobs_.front());
        jobs_.erase(jobs_.begin());
        lock.unlock();
        job();
        lock.lock();
        ++finished_;
      }
    });
  }
  // Queues a job; returns its number (finished once Finished() > number).
  int Post(std::function<void()> job) {
    std::lock_guard<std::mutex> lock(m_);
    jobs_.push_back(std::move(job));
    cv_.notify_all();
    return posted_++;
  }
  bool Finished(int job) {
    std::lock_guard<std::mutex> lock(m_);
    return finished_ > job;
  }
  void Stop() {
    {
      std::lock_guard<std::mutex> lock(m_);
      stop_ = true;
      cv_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  std::vector<std::function<void()>> jobs_;
  int posted_ = 0;
  int finished_ = 0;
  bool stop_ = false;
  std::thread thread_;
};

// A document much larger than the page's place: the page's wish for room must not reach the window.
constexpr char kWidePage[] = R"HTML(<!DOCTYPE html><html><body style="margin:0">
<div style="width:2400px;height:3000px;background:#235"></div></body></html>)HTML";

// The window's size as the display server has it (X11: the X window's attributes).
std::pair<int, int> XWindowSize(unsigned long xid) {
  Display* dpy = gdk_x11_display_get_xdisplay(gdk_display_get_default());
  XWindowAttributes a = {};
  if (!XGetWindowAttributes(dpy, xid, &a)) return {-1, -1};
  return {a.width, a.height};
}

// The window is 950 x 632 at every moment of a run (mapped, page shown, downloading, message
// view), and it opens centred on the monitor that holds the pointer.
TEST(LauncherWindow, ExactSizeThroughTheRunAndCentredOnThePointersMonitor) {
  if (!XServer::Ensure() || !gtk_init_check(nullptr, nullptr)) GTEST_SKIP() << "no Xvfb";
  Sandbox box;
  box.MakeDrives(true);
  os::MakeDirectories(box.InstallDir());
  TestContext context;
  context.SettleIn(box.InstallDir());
  LoopbackServer http;
  http.Server().Get("/wide", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(kWidePage, "text/html; charset=utf-8");
  });
  context.Get().remoteConfig.Parse("EntryUrl=" + http.Url("/wide") + "\n");
  // The pointer on the screen's middle: the only monitor's work area centres the window.
  RunShell("xdotool mousemove 640 400 >/dev/null 2>&1");

  CWebDlg dlg(context.Get());
  FakeWorker worker;
  std::vector<std::string> sizes;  // every size seen that is not 950 x 632, with the moment
  int samples = 0;
  GdkPoint origin = {-1, -1};
  LauncherWindowOptions options;
  options.external = [](int, const std::vector<std::string>&) {};
  options.startWorker = [&] {
    worker.Start();
    worker.Post([&] { dlg.InitWebBrower(); });
  };
  options.onShown = [&](const LauncherWindowParts& parts) {
    RunWhenIdle([&, parts] {
      GtkWidget* window = parts.main->Window();
      auto sample = [&](const char* when) {
        ++samples;
        GdkWindow* gw = gtk_widget_get_window(window);
        const auto [xw, xh] = XWindowSize(parts.main->NativeId());
        int aw = gtk_widget_get_allocated_width(window), ah = gtk_widget_get_allocated_height(window);
        if (!gw || gdk_window_get_width(gw) != 950 || gdk_window_get_height(gw) != 632 || xw != 950 || xh != 632 ||
            aw != 950 || ah != 632)
          sizes.push_back(std::string(when) + ": " + std::to_string(xw) + "x" + std::to_string(xh) + " allocated " +
                          std::to_string(aw) + "x" + std::to_string(ah));
      };
      auto pumpSampling = [&](const std::function<bool()>& done, int ms, const char* when) {
        PumpUntil(
            [&] {
              sample(when);
              return done();
            },
            ms);
      };
      auto runJob = [&](std::function<void()> job, const char* when) {
        const int n = worker.Post(std::move(job));
        pumpSampling([&] { return worker.Finished(n); }, 10000, when);
        pumpSampling([] { return false; }, 300, when);
      };
      PumpUntil([&] { return gtk_widget_get_mapped(window); }, 5000);
      gdk_window_get_origin(gtk_widget_get_window(window), &origin.x, &origin.y);
      pumpSampling([&] { return gtk_widget_get_visible(parts.content->ControlWidget(kIdBrowser)); }, 20000,
                   "page loading");
      pumpSampling([] { return false; }, 800, "page shown");
      runJob(
          [&] {
            dlg.ShowProgressView();
            dlg.SetProgress("", "42%", 42, 1);
            dlg.ShowProgressView();
          },
          "downloading");
      runJob(
          [&] {
            dlg.SetProgress("更新已完成", "100%", 100, 0);
            dlg.ShowMessageView();
          },
          "message view");
      parts.main->EndModal(2);
    });
  };
  RunLauncherWindowWith(dlg, options);
  worker.Stop();
  EXPECT_GT(samples, 20);
  EXPECT_TRUE(sizes.empty()) << sizes.front() << " (" << sizes.size() << " samples off)";
  // Xvfb here is 1280 x 800 with one monitor and no panels.
  EXPECT_EQ(origin.x, (1280 - 950) / 2);
  EXPECT_EQ(origin.y, (800 - 632) / 2);
}

TEST(MainWindowView, CentredInKeepsTheTopLeftCornerInsideTheArea) {
  struct Case {
    GdkRectangle area;
    int x, y;
  } cases[] = {
      {{0, 0, 1280, 800}, 165, 84},
      {{1920, 0, 2560, 1440}, 1920 + 805, 404},  // a second monitor right of the first
      {{0, 32, 1280, 768}, 165, 32 + 68},        // a panel along the top
      {{100, 50, 800, 600}, 100, 50},            // smaller than the window: the corner stays inside
  };
  for (const Case& c : cases) {
    const GdkPoint p = MainWindowView::CentredIn(c.area, 950, 632);
    EXPECT_EQ(p.x, c.x) << c.area.x;
    EXPECT_EQ(p.y, c.y) << c.area.x;
  }
}

// At scale 2 the shape is still a region of logical pixels: one counts when any of its four
// device pixels is not transparent.
TEST(MainWindowView, OpaqueRegionOfADoubleSizePicture) {
  cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 8, 4);
  cairo_surface_flush(image);
  auto* data = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(image));
  const int stride = cairo_image_surface_get_stride(image) / 4;
  data[1 * stride + 3] = 0x01000000;  // device (3, 1): logical (1, 0)
  data[2 * stride + 6] = 0xFF00FF00;  // device (6, 2): logical (3, 1)
  data[3 * stride + 7] = 0xFF00FF00;  // device (7, 3): logical (3, 1) again
  cairo_surface_mark_dirty(image);
  cairo_surface_set_device_scale(image, 2, 2);
  cairo_region_t* region = MainWindowView::OpaqueRegion(image);
  cairo_rectangle_int_t extents;
  cairo_region_get_extents(region, &extents);
  EXPECT_EQ(cairo_region_num_rectangles(region), 2);
  EXPECT_TRUE(cairo_region_contains_point(region, 1, 0));
  EXPECT_TRUE(cairo_region_contains_point(region, 3, 1));
  EXPECT_FALSE(cairo_region_contains_point(region, 0, 0));
  EXPECT_EQ(extents.x + extents.width, 4) << "the region is in logical pixels";
  cairo_region_destroy(region);
  cairo_surface_destroy(image);
}

// The launcher's picture at both scales: the panel's frame is drawn whole inside the picture, with
// its gold rail along the last row and bottom corners that mirror the top ones, and the window's
// shape (the picture's alpha) follows it. A frame that runs on below the last row leaves the
// window looking cut off: sky on the last row and half-drawn lower corners.
TEST(MainWindowView, TheFrameIsClosedInsideThePictureAndTheShapeFollows) {
  for (int scale : {1, 2}) {
    SCOPED_TRACE("scale " + std::to_string(scale));
    PngImage picture = PngImage::LoadForScale(ResourceDir() + "/background.png", scale);
    ASSERT_FALSE(picture.Empty());
    ASSERT_EQ(picture.Scale(), scale);
    ASSERT_EQ(picture.LogicalWidth(), layout::kWindowWidth);
    ASSERT_EQ(picture.LogicalHeight(), layout::kWindowHeight);
    cairo_surface_t* surface = picture.Surface();
    cairo_surface_flush(surface);
    const int w = picture.Width(), h = picture.Height();
    const int stride = cairo_image_surface_get_stride(surface) / 4;
    const auto* data = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(surface));
    auto pixel = [&](int x, int y) { return data[y * stride + x]; };
    auto alpha = [&](int x, int y) { return static_cast<int>(pixel(x, y) >> 24); };
    // Gold: opaque, with far more red than blue (the sky is the other way round).
    auto gold = [&](int x, int y) {
      const uint32_t p = pixel(x, y);
      return (p >> 24) == 255 && static_cast<int>((p >> 16) & 255) > static_cast<int>(p & 255) + 40;
    };

    // The panel's top and bottom rows, found in the middle column (nothing rises above it there).
    int top = 0, bottom = h - 1;
    while (top < h && alpha(w / 2, top) == 0) ++top;
    while (bottom > top && alpha(w / 2, bottom) == 0) --bottom;
    ASSERT_LT(top, h / 4);
    EXPECT_EQ(bottom, h - 1) << "the panel ends above the last row";
    // The straight stretch of the top rail; the bottom rail spans the same columns, gold throughout.
    int left = 0, right = w - 1;
    while (left < w && alpha(left, top) != 255) ++left;
    while (right > left && alpha(right, top) != 255) --right;
    ASSERT_GT(right - left, w / 2);
    int notGold = 0;
    for (int x = left; x <= right; ++x) notGold += gold(x, bottom) ? 0 : 1;
    EXPECT_EQ(notGold, 0) << "the bottom rail is broken or missing on the last row";

    // Each lower corner is the upper one mirrored: transparent where it is, and opaque to within
    // the antialiasing's uneven sampling.
    const int box = 60 * scale, depth = 40 * scale;
    int mismatches = 0;
    for (int k = 0; k < depth; ++k) {
      for (int x = 0; x < w; x = (x == box - 1 ? w - box : x + 1)) {
        const int a = alpha(x, top + k), b = alpha(x, bottom - k);
        if ((a == 0) != (b == 0) || std::abs(a - b) > 32) ++mismatches;
      }
    }
    EXPECT_EQ(mismatches, 0) << "the lower corners do not mirror the upper ones";

    // The shape, in logical pixels, has the same closed outline.
    cairo_region_t* shape = MainWindowView::OpaqueRegion(surface);
    const int topRow = top / scale, bottomRow = bottom / scale;
    const int lw = layout::kWindowWidth, boxL = 60;
    int shapeMismatches = 0;
    for (int k = 0; k < 40; ++k) {
      for (int x = 0; x < lw; x = (x == boxL - 1 ? lw - boxL : x + 1)) {
        if (cairo_region_contains_point(shape, x, topRow + k) != cairo_region_contains_point(shape, x, bottomRow - k))
          ++shapeMismatches;
      }
    }
    EXPECT_EQ(shapeMismatches, 0) << "the shape's lower corners do not mirror the upper ones";
    EXPECT_FALSE(cairo_region_contains_point(shape, 0, layout::kWindowHeight - 1));
    EXPECT_FALSE(cairo_region_contains_point(shape, lw - 1, layout::kWindowHeight - 1));
    cairo_region_destroy(shape);
  }
}

// A screen reader finds two push buttons named after their actions whose "click" runs them, a
// progress bar whose value is the percentage, and labels named by their text.
TEST(ContentView, ScreenReadersSeeNamedButtonsAndTheProgressValue) {
  if (!XServer::Ensure() || !gtk_init_check(nullptr, nullptr)) GTEST_SKIP() << "no Xvfb";
  int minimised = 0, closed = 0;
  ContentView::Actions actions;
  actions.minimise = [&] { ++minimised; };
  actions.close = [&] { ++closed; };
  ContentView view(ResourceDir(), actions);

  struct Button {
    int id;
    const char* name;
    int* count;
  } buttons[] = {{kIdMinimiseButton, "最小化", &minimised}, {kIdCloseButton, "关闭", &closed}};
  for (const Button& b : buttons) {
    AtkObject* a = gtk_widget_get_accessible(view.ControlWidget(b.id));
    EXPECT_EQ(atk_object_get_role(a), ATK_ROLE_PUSH_BUTTON);
    EXPECT_STREQ(atk_object_get_name(a), b.name);
    ASSERT_TRUE(ATK_IS_ACTION(a));
    ASSERT_EQ(atk_action_get_n_actions(ATK_ACTION(a)), 1);
    EXPECT_STREQ(atk_action_get_name(ATK_ACTION(a), 0), "click");
    EXPECT_TRUE(atk_action_do_action(ATK_ACTION(a), 0));
    EXPECT_TRUE(PumpUntil([&] { return *b.count == 1; }, 2000)) << b.name;
  }
  EXPECT_EQ(minimised + closed, 2) << "each action ran its own button's action once";

  AtkObject* bar = gtk_widget_get_accessible(view.ControlWidget(kIdProgressBar));
  EXPECT_EQ(atk_object_get_role(bar), ATK_ROLE_PROGRESS_BAR);
  EXPECT_STREQ(atk_object_get_name(bar), "更新进度");
  ASSERT_TRUE(ATK_IS_VALUE(bar));
  std::vector<std::string> announced;
  const gulong watch =
      g_signal_connect(bar, "value-changed", G_CALLBACK(+[](AtkValue*, gdouble, gchar* text, gpointer out) {
                         static_cast<std::vector<std::string>*>(out)->push_back(text ? text : "");
                       }),
                       &announced);
  view.SetProgressPos(42);
  g_signal_handler_disconnect(bar, watch);
  gdouble value = -1;
  gchar* text = nullptr;
  atk_value_get_value_and_text(ATK_VALUE(bar), &value, &text);
  EXPECT_EQ(value, 42);
  EXPECT_STREQ(text, "42%");
  g_free(text);
  AtkRange* range = atk_value_get_range(ATK_VALUE(bar));
  EXPECT_EQ(atk_range_get_lower_limit(range), 0);
  EXPECT_EQ(atk_range_get_upper_limit(range), 100);
  atk_range_free(range);
  EXPECT_EQ(announced, std::vector<std::string>{"42%"});

  view.SetControlText(kIdStatusLabel, "正在下载：");
  AtkObject* label = gtk_widget_get_accessible(view.ControlWidget(kIdStatusLabel));
  EXPECT_EQ(atk_object_get_role(label), ATK_ROLE_LABEL);
  EXPECT_STREQ(atk_object_get_name(label), "正在下载：");
}

TEST(LauncherWindow, EndToEndOnLoopback) {
  if (!XServer::Ensure() || !gtk_init_check(nullptr, nullptr)) GTEST_SKIP() << "no Xvfb";
  Sandbox box;
  box.MakeDrives(true);
  os::MakeDirectories(box.InstallDir());
  TestContext context;
  context.SettleIn(box.InstallDir());
  LoopbackServer http;
  ASSERT_GT(http.Port(), 0);
  context.Get().remoteConfig.Parse("EntryUrl=" + http.Url("/login") + "\n");
  InstallGtkMessageBoxPresenter();

  // A known root colour, so that see-through pixels are recognisable on screen.
  Display* dpy = gdk_x11_display_get_xdisplay(gdk_display_get_default());
  XSetWindowBackground(dpy, DefaultRootWindow(dpy), 0xFF00FF);
  XClearWindow(dpy, DefaultRootWindow(dpy));
  XSync(dpy, False);

  CWebDlg dlg(context.Get());
  FakeWorker worker;
  std::vector<std::pair<int, std::vector<std::string>>> external;
  std::vector<std::string> opened;
  std::vector<std::string> failures;
  auto check = [&](bool ok, const std::string& what) {
    if (!ok) failures.push_back(what);
  };

  LauncherWindowOptions options;
  CImpIDispatch bridge([&dlg] { return &dlg; });
  options.external = [&](int id, const std::vector<std::string>& args) {
    external.emplace_back(id, args);
    bridge.Invoke(id, args, false);
  };
  options.openExternally = [&](const std::string& uri) { opened.push_back(uri); };
  options.startWorker = [&] {
    worker.Start();
    worker.Post([&] { dlg.InitWebBrower(); });
  };
  options.onShown = [&](const LauncherWindowParts& parts) {
    RunWhenIdle([&, parts] {
      GtkWidget* window = parts.main->Window();
      WebKitWebView* page = parts.content->Browser().View();
      auto runJob = [&](std::function<void()> job) {
        const int n = worker.Post(std::move(job));
        check(PumpUntil([&] { return worker.Finished(n); }, 10000), "worker job timed out");
        PumpFor(300);
      };

      // The shaped window: 950 x 632, see-through corners, opaque middle.
      check(PumpUntil([&] { return gtk_widget_get_mapped(window); }, 5000), "window not mapped");
      GdkWindow* gw = gtk_widget_get_window(window);
      check(gdk_window_get_width(gw) == 950 && gdk_window_get_height(gw) == 632, "window size");

      // The page shows once its document is complete; the progress controls stay hidden.
      check(PumpUntil([&] { return gtk_widget_get_visible(GTK_WIDGET(page)); }, 20000), "page never shown");
      PumpFor(500);
      int ox = 0, oy = 0;
      gdk_window_get_origin(gw, &ox, &oy);
      for (auto [cx, cy] : {std::pair{0, 0}, {949, 0}, {0, 631}, {949, 631}}) {
        check(RootPixel(ox + cx, oy + cy) == 0xFF00FF,
              "corner not transparent at " + std::to_string(cx) + "," + std::to_string(cy));
      }
      check(RootPixel(ox + 475, oy + 316) != 0xFF00FF, "middle is see-through");
      // A plain desktop colour for the screenshots.
      XSetWindowBackground(dpy, DefaultRootWindow(dpy), 0x2B2F3A);
      XClearWindow(dpy, DefaultRootWindow(dpy));
      XSync(dpy, False);
      PumpFor(200);
      check(!gtk_widget_get_visible(parts.content->ControlWidget(kIdProgressBar)), "bar visible when idle");
      check(!Screenshot(window, "launcher-idle.png").empty(), "screenshot launcher-idle.png");

      // window.external: exactly three members; values read back synchronously.
      check(Eval(page, "Object.getOwnPropertyNames(window.external).sort().join(',')") ==
                "AppLogin,IsDownLoadComplete,JavascriptToCsharp",
            "external members");
      check(Eval(page, "String(window.external.IsDownLoadComplete())") == "false", "ready before SetReady");
      const std::string path = Eval(page, "window.external.JavascriptToCsharp('GetCommandLine', '')");
      check(path == os::ExecutablePath(), "GetCommandLine gave " + path);
      PumpUntil([&] { return !external.empty(); }, 3000);
      check(external.size() == 1 && external[0].first == 1 &&
                external[0].second == std::vector<std::string>{"", "GetCommandLine"},
            "JavascriptToCsharp not forwarded (reversed) to the bridge");
      check(Eval(page, "String(window.external.JavascriptToCsharp('GetCommandLine'))") == "undefined",
            "one argument must do nothing");

      // Downloading.
      runJob([&] {
        dlg.ShowProgressView();
        dlg.SetProgress("", "42%", 42, 1);
        dlg.ShowProgressView();
      });
      check(gtk_widget_get_visible(parts.content->ControlWidget(kIdProgressBar)), "bar hidden while downloading");
      check(parts.content->ControlText(kIdStatusLabel) == "正在下载：", "status label");
      check(parts.content->ProgressBar().GetPos() == 42, "bar position");
      check(!Screenshot(window, "launcher-downloading.png").empty(), "screenshot launcher-downloading.png");

      // Ready: the page's view follows at once.
      runJob([&] {
        dlg.SetProgress("更新已完成", "100%", 100, 0);
        dlg.ShowMessageView();
        dlg.SetReady();
      });
      check(Eval(page, "String(window.external.IsDownLoadComplete())") == "true", "ready after SetReady");
      check(parts.content->ControlText(kIdMessageText) == "更新已完成", "message text");
      check(!Screenshot(window, "launcher-ready.png").empty(), "screenshot launcher-ready.png");

      // alert() -> one OK-only error box captioned "提示".
      std::string alertText;
      GtkMessageType alertType = GTK_MESSAGE_OTHER;
      std::pair<std::string*, GtkMessageType*> alertOut(&alertText, &alertType);
      guint watcher = g_timeout_add(
          50,
          [](gpointer data) -> gboolean {
            auto* out = static_cast<std::pair<std::string*, GtkMessageType*>*>(data);
            GtkMessageDialog* d = FindDialog("提示");
            if (!d) return G_SOURCE_CONTINUE;
            gchar* text = nullptr;
            GtkMessageType type = GTK_MESSAGE_OTHER;
            g_object_get(d, "text", &text, "message-type", &type, nullptr);
            *out->first = text ? text : "";
            *out->second = type;
            g_free(text);
            gtk_dialog_response(GTK_DIALOG(d), GTK_RESPONSE_OK);
            return G_SOURCE_CONTINUE;
          },
          &alertOut);
      Eval(page, "setTimeout(function () { window.__confirmed = confirm('sure?'); alert('hello'); }, 10); 1");
      check(PumpUntil([&] { return alertText == "hello"; }, 10000), "no 提示 box for alert");
      check(alertType == GTK_MESSAGE_ERROR, "alert box is not an error box");
      check(Eval(page, "String(window.__confirmed)") == "false", "confirm must answer false");
      g_source_remove(watcher);

      // Keys: Ctrl+N never reaches the page, Ctrl+C and plain keys do.
      const unsigned long xid = parts.main->NativeId();
      gtk_widget_grab_focus(GTK_WIDGET(page));
      RunShell("xdotool mousemove " + std::to_string(ox + 600) + " " + std::to_string(oy + 400) +
               " windowfocus --sync " + std::to_string(xid) + " >/dev/null 2>&1");
      PumpFor(300);
      RunShell("xdotool key --delay 60 ctrl+n ctrl+c x ctrl+p >/dev/null 2>&1");
      PumpFor(800);
      const std::string keys = Eval(page, "window.__keys.join(' ')");
      check(keys.find("C-n") == std::string::npos && keys.find("C-p") == std::string::npos,
            "Ctrl+N/Ctrl+P reached the page: " + keys);
      check(keys.find("C-c") != std::string::npos && keys.find(" x") != std::string::npos,
            "Ctrl+C or x did not reach the page: " + keys);

      // No scroll bars however long the page; the wheel still scrolls; Ctrl+wheel never
      // reaches the page (no zoom); a right click opens no menu.
      check(Eval(page, "String(window.innerWidth - document.documentElement.clientWidth)") == "0",
            "a scroll bar takes room");
      RunShell("xdotool click --repeat 3 --delay 50 5 >/dev/null 2>&1");
      check(PumpUntil([&] { return Eval(page, "String(window.scrollY > 0)") == "true"; }, 3000),
            "the wheel does not scroll");
      RunShell("xdotool keydown ctrl click --repeat 2 --delay 50 4 keyup ctrl >/dev/null 2>&1");
      PumpFor(500);
      check(Eval(page, "String(window.__ctrlWheels)") == "0", "Ctrl+wheel reached the page");
      check(webkit_web_view_get_zoom_level(page) == 1.0, "the page zoomed");
      check(!Screenshot(window, "launcher-scrolled.png").empty(), "screenshot launcher-scrolled.png");
      // Right after scrolling, the page's right edge is plain page background (the page's
      // gradient runs top to bottom only): no scroll bar or indicator drawn there.
      check(EdgeIsPlain(ox + 300 + 590 - 14, oy + 140, 14, 460), "a scroll bar is drawn");
      int menus = 0;
      const gulong menuWatch = g_signal_connect(
          page, "context-menu",
          G_CALLBACK(+[](WebKitWebView*, WebKitContextMenu*, GdkEvent*, WebKitHitTestResult*, gpointer n) -> gboolean {
            ++*static_cast<int*>(n);
            return FALSE;
          }),
          &menus);
      RunShell("xdotool click 3 >/dev/null 2>&1");
      PumpFor(500);
      g_signal_handler_disconnect(page, menuWatch);
      check(Eval(page, "String(window.__contextMenus)") == "1", "the right click did not reach the page");
      check(menus == 0, "the page's context menu was not refused");
      auto visibleTopLevels = [] {
        GList* tops = gtk_window_list_toplevels();
        int n = 0;
        for (GList* l = tops; l; l = l->next) n += gtk_widget_get_visible(GTK_WIDGET(l->data)) ? 1 : 0;
        g_list_free(tops);
        return n;
      };
      check(visibleTopLevels() == 1, "a context menu opened");

      // New windows: no second view, the address goes to the default browser.
      Eval(page, "window.open('" + http.Url("/news") + "'); 1");
      PumpFor(500);
      check(opened.size() == 1 && opened[0] == http.Url("/news"), "new window not sent to the default browser");
      check(visibleTopLevels() == 1, "a second window appeared");

      // The close button ends the run.
      RunShell("xdotool mousemove " + std::to_string(ox + 895 + 23) + " " + std::to_string(oy + 95 + 23) +
               " click 1 >/dev/null 2>&1");
      PumpFor(1000);
      // If the click did not land the run still ends (EndModal ignores a second call), so the
      // test cannot hang; the result then tells.
      parts.main->EndModal(2);
    });
  };

  const int result = RunLauncherWindowWith(dlg, options);
  worker.Stop();
  for (const std::string& f : failures) ADD_FAILURE() << f;
  EXPECT_EQ(result, 1) << "the close button did not end the run";
  LauncherLog::Instance().Close();
  const std::string log = Sandbox::ReadFile(box.LogPath());
  // The page's call went through the bridge to the content window.
  EXPECT_NE(log.find("[INFO][CWebCDlg::JavascriptToCPLUSPLUS::185] method:GetCommandLine,paramters:"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("[INFO][CWebDlg::Close::54] Laucher Stop"), std::string::npos) << log;
  EXPECT_NE(log.find("[INFO][CWebApp::OnWndDestroy::63] wnd destory"), std::string::npos) << log;
}

// The blank document that starts the web process early never shows the page's view, whether the
// page's address comes after it has loaded or while it is still loading; the page does, once
// complete.
TEST(PageHost, PrewarmedViewShowsOnlyThePage) {
  if (!XServer::Ensure() || !gtk_init_check(nullptr, nullptr)) GTEST_SKIP() << "no Xvfb";
  const std::string page = "data:text/html,<p>the page</p>";
  for (bool waitForBlank : {true, false}) {
    SCOPED_TRACE(waitForBlank ? "address after the blank document" : "address at once");
    WebViewHost host(nullptr, [](const std::string&) {});
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_container_add(GTK_CONTAINER(window), host.Widget());
    gtk_widget_show_all(window);
    WebKitWebView* view = host.View();

    host.Prewarm();
    if (waitForBlank) {
      ASSERT_TRUE(PumpUntil([&] { return !webkit_web_view_is_loading(view); }, 20000));
      PumpFor(200);
      EXPECT_FALSE(gtk_widget_get_visible(host.Widget()));
    }
    host.Navigate(page);
    // When the view turns visible, the page is what it holds, complete.
    bool shownEarly = false;
    EXPECT_TRUE(PumpUntil(
        [&] {
          if (!gtk_widget_get_visible(host.Widget())) return false;
          const char* uri = webkit_web_view_get_uri(view);
          shownEarly = !uri || uri != page || webkit_web_view_is_loading(view);
          return true;
        },
        20000));
    EXPECT_FALSE(shownEarly);
    gtk_widget_destroy(window);
  }
}

}  // namespace
