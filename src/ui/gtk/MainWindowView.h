// The main window: an undecorated 950 x 632 top-level painted once from the background picture
// (premultiplied ARGB). Where the picture is fully transparent the window takes no clicks, and
// without a compositor it has no pixels there either (a shape from the alpha). A press anywhere
// else drags it. UI thread only.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <string>

#include "controls/PngImage.h"
#include "ui/IContentView.h"

class MainWindowView : public IMainWindowView {
 public:
  MainWindowView(const std::string& resourceDir, GtkWidget* contentLayer, std::function<void()> onSystemClose);
  ~MainWindowView() override;
  MainWindowView(const MainWindowView&) = delete;
  MainWindowView& operator=(const MainWindowView&) = delete;

  GtkWidget* Window() const { return window_; }

  void Show();
  // Runs the window's loop until EndModal; returns the result given to it.
  int RunModal();

  // IMainWindowView
  void Hide() override;
  void Minimise() override;
  void EndModal(int result) override;
  unsigned long NativeId() const override;

  // The region of pixels whose alpha is not zero (the caller owns it).
  static cairo_region_t* OpaqueRegion(cairo_surface_t* image);

 private:
  static gboolean OnDraw(GtkWidget*, cairo_t*, gpointer);
  static gboolean OnButtonPress(GtkWidget*, GdkEventButton*, gpointer);
  static gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer);
  static void OnRealize(GtkWidget*, gpointer);

  GtkWidget* window_ = nullptr;
  PngImage background_;
  GdkCursor* cursor_ = nullptr;
  std::function<void()> onSystemClose_;
  GMainLoop* loop_ = nullptr;
  bool ended_ = false;
  int result_ = 0;
};
