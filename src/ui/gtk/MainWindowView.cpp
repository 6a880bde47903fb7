#include "ui/gtk/MainWindowView.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <gdk/gdkwayland.h>
#include <gdk/gdkx.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "Identity.h"
#include "log/LauncherLog.h"
#include "ui/Layout.h"

#ifndef VELLMORA_APP_ID
#define VELLMORA_APP_ID "vellmora"
#endif

namespace {

constexpr char kModule[] = "MainWindowView";

}  // namespace

MainWindowView::MainWindowView(const std::string& resourceDir, GtkWidget* contentLayer,
                               std::function<void()> onSystemClose)
    : resourceDir_(resourceDir), onSystemClose_(std::move(onSystemClose)) {
  window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  g_object_ref_sink(window_);
  gtk_window_set_title(GTK_WINDOW(window_), identity::ProductName);
  gtk_window_set_decorated(GTK_WINDOW(window_), FALSE);
  gtk_window_set_resizable(GTK_WINDOW(window_), FALSE);
  gtk_window_set_default_size(GTK_WINDOW(window_), layout::kWindowWidth, layout::kWindowHeight);
  gtk_widget_set_size_request(window_, layout::kWindowWidth, layout::kWindowHeight);
  // The window manager may neither grow nor shrink it.
  GdkGeometry hints = {};
  hints.min_width = hints.max_width = layout::kWindowWidth;
  hints.min_height = hints.max_height = layout::kWindowHeight;
  gtk_window_set_geometry_hints(GTK_WINDOW(window_), nullptr, &hints,
                                static_cast<GdkWindowHints>(GDK_HINT_MIN_SIZE | GDK_HINT_MAX_SIZE));
  gtk_widget_set_app_paintable(window_, TRUE);
  if (GdkVisual* rgba = gdk_screen_get_rgba_visual(gtk_widget_get_screen(window_))) {
    gtk_widget_set_visual(window_, rgba);
  }
  GError* error = nullptr;
  if (GdkPixbuf* icon = gdk_pixbuf_new_from_file((resourceDir + "/icon.png").c_str(), &error)) {
    gtk_window_set_icon(GTK_WINDOW(window_), icon);
    g_object_unref(icon);
  } else if (error) {
    g_error_free(error);
  }
  LoadArtwork();

  gtk_widget_add_events(window_, GDK_BUTTON_PRESS_MASK);
  g_signal_connect(window_, "draw", G_CALLBACK(OnDraw), this);
  g_signal_connect(window_, "button-press-event", G_CALLBACK(OnButtonPress), this);
  g_signal_connect(window_, "delete-event", G_CALLBACK(OnDelete), this);
  g_signal_connect(window_, "realize", G_CALLBACK(OnRealize), this);
  g_signal_connect_after(window_, "map", G_CALLBACK(OnMapped), this);
  g_signal_connect(window_, "notify::scale-factor", G_CALLBACK(OnScaleChanged), this);
  gtk_container_add(GTK_CONTAINER(window_), contentLayer);
  loop_ = g_main_loop_new(nullptr, FALSE);
}

MainWindowView::~MainWindowView() {
  g_signal_handlers_disconnect_by_data(window_, this);
  gtk_widget_destroy(window_);
  g_object_unref(window_);
  if (cursor_) g_object_unref(cursor_);
  g_main_loop_unref(loop_);
}

// The background and the cursor for the window's current scale factor.
void MainWindowView::LoadArtwork() {
  const int scale = gtk_widget_get_scale_factor(window_);
  background_ = PngImage::LoadForScale(resourceDir_ + "/background.png", scale);
  if (cursor_) g_object_unref(cursor_);
  cursor_ = nullptr;
  PngImage cursorImage = PngImage::LoadForScale(resourceDir_ + "/cursor.png", scale);
  if (!cursorImage.Empty()) {
    cursor_ = gdk_cursor_new_from_surface(gtk_widget_get_display(window_), cursorImage.Surface(), 1, 1);
  }
}

cairo_region_t* MainWindowView::OpaqueRegion(cairo_surface_t* image) {
  cairo_region_t* region = cairo_region_create();
  if (!image) return region;
  cairo_surface_flush(image);
  double sx = 1, sy = 1;
  cairo_surface_get_device_scale(image, &sx, &sy);
  const int scale = sx >= 1 ? static_cast<int>(sx) : 1;
  const int w = cairo_image_surface_get_width(image);
  const int h = cairo_image_surface_get_height(image);
  const int stride = cairo_image_surface_get_stride(image);
  const unsigned char* data = cairo_image_surface_get_data(image);
  const int lw = (w + scale - 1) / scale;
  std::vector<bool> opaque(lw);
  for (int ly = 0; ly * scale < h; ++ly) {
    std::fill(opaque.begin(), opaque.end(), false);
    for (int y = ly * scale; y < h && y < (ly + 1) * scale; ++y) {
      const uint32_t* row = reinterpret_cast<const uint32_t*>(data + y * stride);
      for (int x = 0; x < w; ++x)
        if ((row[x] >> 24) != 0) opaque[x / scale] = true;
    }
    for (int x = 0; x < lw;) {
      if (!opaque[x]) {
        ++x;
        continue;
      }
      const int start = x;
      while (x < lw && opaque[x]) ++x;
      const cairo_rectangle_int_t run = {start, ly, x - start, 1};
      cairo_region_union_rectangle(region, &run);
    }
  }
  return region;
}

GdkPoint MainWindowView::CentredIn(const GdkRectangle& area, int width, int height) {
  GdkPoint p;
  p.x = area.x + std::max(0, (area.width - width) / 2);
  p.y = area.y + std::max(0, (area.height - height) / 2);
  return p;
}

// Clicks pass through the fully transparent pixels; the controls always take theirs. Without a
// compositor the same region is the window's shape, so the corners really show what is below.
// GDK scales the logical region to the window's device pixels.
void MainWindowView::ApplyShape() {
  if (!gtk_widget_get_realized(window_)) return;
  if (cursor_) gdk_window_set_cursor(gtk_widget_get_window(window_), cursor_);
  if (background_.Empty()) return;
  cairo_region_t* region = OpaqueRegion(background_.Surface());
  for (const layout::Rect& r :
       {layout::kBrowser, layout::kMinimiseButton, layout::kCloseButton, layout::kProgressBar}) {
    const cairo_rectangle_int_t rect = {r.x, r.y, r.w, r.h};
    cairo_region_union_rectangle(region, &rect);
  }
  gtk_widget_input_shape_combine_region(window_, region);
  if (!gdk_screen_is_composited(gtk_widget_get_screen(window_))) gtk_widget_shape_combine_region(window_, region);
  cairo_region_destroy(region);
}

// The desktop entry's id names the window, so docks and task bars show the launcher's own entry:
// the class of WM_CLASS on X11 (set here), the application id on Wayland (OnMapped).
void MainWindowView::OnRealize(GtkWidget* w, gpointer data) {
  auto* self = static_cast<MainWindowView*>(data);
  GdkWindow* gw = gtk_widget_get_window(w);
  if (GDK_IS_X11_WINDOW(gw)) {
    XClassHint hint;
    const char* name = g_get_prgname();
    hint.res_name = const_cast<char*>(name ? name : VELLMORA_APP_ID);
    hint.res_class = const_cast<char*>(VELLMORA_APP_ID);
    XSetClassHint(GDK_WINDOW_XDISPLAY(gw), GDK_WINDOW_XID(gw), &hint);
  }
  self->ApplyShape();
}

// A Wayland toplevel exists only once the window is shown, and each showing makes a new one.
void MainWindowView::OnMapped(GtkWidget* w, gpointer) {
#ifdef GDK_WINDOWING_WAYLAND
  GdkWindow* gw = gtk_widget_get_window(w);
  if (gw && GDK_IS_WAYLAND_WINDOW(gw)) gdk_wayland_window_set_application_id(gw, VELLMORA_APP_ID);
#else
  (void)w;
#endif
}

// Moved to a monitor with another scale factor: the pictures of that scale, the same shape.
void MainWindowView::OnScaleChanged(GObject*, GParamSpec*, gpointer data) {
  auto* self = static_cast<MainWindowView*>(data);
  self->LoadArtwork();
  self->ApplyShape();
  gtk_widget_queue_draw(self->window_);
}

// The picture is already premultiplied; copying it as it is leaves exactly its pixels.
gboolean MainWindowView::OnDraw(GtkWidget*, cairo_t* cr, gpointer data) {
  auto* self = static_cast<MainWindowView*>(data);
  cairo_save(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  if (!self->background_.Empty()) {
    cairo_set_source_surface(cr, self->background_.Surface(), 0, 0);
  } else {
    cairo_set_source_rgba(cr, 0, 0, 0, 0);
  }
  cairo_paint(cr);
  cairo_restore(cr);
  return FALSE;  // the content layer draws on top
}

gboolean MainWindowView::OnButtonPress(GtkWidget* w, GdkEventButton* e, gpointer) {
  if (e->button == 1 && e->type == GDK_BUTTON_PRESS) {
    gtk_window_begin_move_drag(GTK_WINDOW(w), static_cast<int>(e->button), static_cast<int>(e->x_root),
                               static_cast<int>(e->y_root), e->time);
    return TRUE;
  }
  return FALSE;
}

gboolean MainWindowView::OnDelete(GtkWidget*, GdkEvent*, gpointer data) {
  auto* self = static_cast<MainWindowView*>(data);
  if (self->onSystemClose_) self->onSystemClose_();
  return TRUE;  // the run ends; the window is destroyed afterwards
}

// Centred on the work area of the pointer's monitor. Only X11 lets a client place its window; a
// Wayland compositor places it itself.
void MainWindowView::PlaceOnPointerMonitor() {
  GdkDisplay* display = gtk_widget_get_display(window_);
  if (!GDK_IS_X11_DISPLAY(display)) {
    LogInfo("window placement left to the compositor", "MainWindowView::Show", kModule, __LINE__);
    return;
  }
  GdkSeat* seat = gdk_display_get_default_seat(display);
  GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr;
  int px = 0, py = 0;
  if (pointer) gdk_device_get_position(pointer, nullptr, &px, &py);
  GdkMonitor* monitor = gdk_display_get_monitor_at_point(display, px, py);
  if (!monitor) return;
  GdkRectangle area;
  gdk_monitor_get_workarea(monitor, &area);
  const GdkPoint origin = CentredIn(area, layout::kWindowWidth, layout::kWindowHeight);
  gtk_window_move(GTK_WINDOW(window_), origin.x, origin.y);
}

void MainWindowView::Show() {
  PlaceOnPointerMonitor();
  gtk_widget_show_all(window_);
}

int MainWindowView::RunModal() {
  if (!ended_) g_main_loop_run(loop_);
  return result_;
}

void MainWindowView::Hide() {
  gtk_widget_hide(window_);
  // The caller may block this thread next (waiting for the game): send the unmap to the display
  // server now instead of when the main loop would next flush.
  gdk_display_sync(gtk_widget_get_display(window_));
}

void MainWindowView::Minimise() { gtk_window_iconify(GTK_WINDOW(window_)); }

void MainWindowView::EndModal(int result) {
  if (ended_) return;
  ended_ = true;
  result_ = result;
  g_main_loop_quit(loop_);
}

// X11 only: the platform addresses windows by their X window id. A Wayland surface has no id a
// peer could use, so the sender is 0 there (the front end logs that once at start).
unsigned long MainWindowView::NativeId() const {
  GdkWindow* w = gtk_widget_get_window(window_);
  if (!w || !GDK_IS_X11_WINDOW(w)) return 0;
  return GDK_WINDOW_XID(w);
}
