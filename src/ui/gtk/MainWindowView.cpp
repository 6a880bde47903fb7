#include "ui/gtk/MainWindowView.h"

#include <gdk/gdkx.h>

#include "Identity.h"
#include "ui/gtk/Layout.h"

MainWindowView::MainWindowView(const std::string& resourceDir, GtkWidget* contentLayer,
                               std::function<void()> onSystemClose)
    : onSystemClose_(std::move(onSystemClose)) {
  background_ = PngImage::Load(resourceDir + "/background.png");
  window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  g_object_ref_sink(window_);
  gtk_window_set_title(GTK_WINDOW(window_), identity::ProductName);
  gtk_window_set_decorated(GTK_WINDOW(window_), FALSE);
  gtk_window_set_resizable(GTK_WINDOW(window_), FALSE);
  gtk_window_set_default_size(GTK_WINDOW(window_), layout::kWindowWidth, layout::kWindowHeight);
  gtk_widget_set_size_request(window_, layout::kWindowWidth, layout::kWindowHeight);
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
  PngImage cursorImage = PngImage::Load(resourceDir + "/cursor.png");
  if (!cursorImage.Empty()) {
    cursor_ = gdk_cursor_new_from_surface(gtk_widget_get_display(window_), cursorImage.Surface(), 1, 1);
  }

  gtk_widget_add_events(window_, GDK_BUTTON_PRESS_MASK);
  g_signal_connect(window_, "draw", G_CALLBACK(OnDraw), this);
  g_signal_connect(window_, "button-press-event", G_CALLBACK(OnButtonPress), this);
  g_signal_connect(window_, "delete-event", G_CALLBACK(OnDelete), this);
  g_signal_connect(window_, "realize", G_CALLBACK(OnRealize), this);
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

cairo_region_t* MainWindowView::OpaqueRegion(cairo_surface_t* image) {
  cairo_region_t* region = cairo_region_create();
  if (!image) return region;
  cairo_surface_flush(image);
  const int w = cairo_image_surface_get_width(image);
  const int h = cairo_image_surface_get_height(image);
  const int stride = cairo_image_surface_get_stride(image);
  const unsigned char* data = cairo_image_surface_get_data(image);
  for (int y = 0; y < h; ++y) {
    const uint32_t* row = reinterpret_cast<const uint32_t*>(data + y * stride);
    for (int x = 0; x < w;) {
      if ((row[x] >> 24) == 0) {
        ++x;
        continue;
      }
      const int start = x;
      while (x < w && (row[x] >> 24) != 0) ++x;
      const cairo_rectangle_int_t run = {start, y, x - start, 1};
      cairo_region_union_rectangle(region, &run);
    }
  }
  return region;
}

// Clicks pass through the fully transparent pixels; the controls always take theirs. Without a
// compositor the same region is the window's shape, so the corners really show what is below.
void MainWindowView::OnRealize(GtkWidget* w, gpointer data) {
  auto* self = static_cast<MainWindowView*>(data);
  if (self->cursor_) gdk_window_set_cursor(gtk_widget_get_window(w), self->cursor_);
  if (self->background_.Empty()) return;
  cairo_region_t* region = OpaqueRegion(self->background_.Surface());
  for (const layout::Rect& r :
       {layout::kBrowser, layout::kMinimiseButton, layout::kCloseButton, layout::kProgressBar}) {
    const cairo_rectangle_int_t rect = {r.x, r.y, r.w, r.h};
    cairo_region_union_rectangle(region, &rect);
  }
  gtk_widget_input_shape_combine_region(w, region);
  if (!gdk_screen_is_composited(gtk_widget_get_screen(w))) gtk_widget_shape_combine_region(w, region);
  cairo_region_destroy(region);
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

void MainWindowView::Show() { gtk_widget_show_all(window_); }

int MainWindowView::RunModal() {
  if (!ended_) g_main_loop_run(loop_);
  return result_;
}

void MainWindowView::Hide() {
  gtk_widget_hide(window_);
  // The caller may block this thread next (waiting for the game): send the unmap to the X server
  // now instead of when the main loop would next flush.
  gdk_display_sync(gtk_widget_get_display(window_));
}

void MainWindowView::Minimise() { gtk_window_iconify(GTK_WINDOW(window_)); }

void MainWindowView::EndModal(int result) {
  if (ended_) return;
  ended_ = true;
  result_ = result;
  g_main_loop_quit(loop_);
}

unsigned long MainWindowView::NativeId() const {
  GdkWindow* w = gtk_widget_get_window(window_);
  if (!w || !GDK_IS_X11_WINDOW(w)) return 0;
  return GDK_WINDOW_XID(w);
}
