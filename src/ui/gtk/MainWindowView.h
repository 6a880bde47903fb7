// The main window: an undecorated 950 x 632 top-level painted once from the background picture
// (premultiplied ARGB). Where the picture is fully transparent the window takes no clicks, and
// without a compositor it has no pixels there either (a shape from the alpha). A press anywhere
// else drags it. Its size never changes: the content layer asks for exactly the window's size and
// the window manager is told the minimum and maximum are that size. It opens centred on the
// monitor that holds the pointer where the display lets a client place its windows (X11). At a
// scale factor above 1 the pictures come from their "@2x" versions and the shape is the same
// logical region. UI thread only.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <string>

#include "controls/gtk/PngImage.h"
#include "ui/IContentView.h"

class MainWindowView : public IMainWindowView {
 public:
  MainWindowView(const std::string& resourceDir, GtkWidget* contentLayer, std::function<void()> onSystemClose);
  ~MainWindowView() override;
  MainWindowView(const MainWindowView&) = delete;
  MainWindowView& operator=(const MainWindowView&) = delete;

  GtkWidget* Window() const { return window_; }

  // Places the window (see above) and shows it.
  void Show();
  // Runs the window's loop until EndModal; returns the result given to it.
  int RunModal();

  // IMainWindowView
  void Hide() override;
  void Minimise() override;
  void EndModal(int result) override;
  unsigned long NativeId() const override;

  // The region, in logical pixels, of pixels whose alpha is not zero: a logical pixel counts when
  // any of its device pixels does (the caller owns it).
  static cairo_region_t* OpaqueRegion(cairo_surface_t* image);

  // The top-left corner that centres a width x height window in area, kept inside the area's
  // top-left corner when the window is larger.
  static GdkPoint CentredIn(const GdkRectangle& area, int width, int height);

 private:
  void LoadArtwork();
  void ApplyShape();
  void PlaceOnPointerMonitor();

  static gboolean OnDraw(GtkWidget*, cairo_t*, gpointer);
  static gboolean OnButtonPress(GtkWidget*, GdkEventButton*, gpointer);
  static gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer);
  static void OnRealize(GtkWidget*, gpointer);
  static void OnMapped(GtkWidget*, gpointer);
  static void OnScaleChanged(GObject*, GParamSpec*, gpointer);

  std::string resourceDir_;
  GtkWidget* window_ = nullptr;
  PngImage background_;
  GdkCursor* cursor_ = nullptr;
  std::function<void()> onSystemClose_;
  GMainLoop* loop_ = nullptr;
  bool ended_ = false;
  int result_ = 0;
};
