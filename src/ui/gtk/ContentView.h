// The content layer: the page, the progress bar, the three labels and the two buttons at their
// pixel positions over the main window's picture. Implements the view the content window's
// logic drives. UI thread only.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <string>

#include "browser/gtk/WebViewHost.h"
#include "controls/CGradientProgressCtrl.h"
#include "controls/CPngButton.h"
#include "ui/ContentLabels.h"
#include "ui/IContentView.h"
#include "ui/gtk/LauncherEntryProgress.h"

class ContentView : public IContentView {
 public:
  struct Actions {
    std::function<void()> minimise;
    std::function<void()> close;
    WebViewHost::ExternalCall external;
    WebViewHost::UriOpener openExternally;  // empty: the user's default browser
  };

  ContentView(const std::string& resourceDir, Actions actions);
  ~ContentView() override;
  ContentView(const ContentView&) = delete;
  ContentView& operator=(const ContentView&) = delete;

  // The layer (exactly the window's size) to put into the main window.
  GtkWidget* Layer() const { return fixed_; }
  WebViewHost& Browser() { return *browser_; }
  GtkWidget* ControlWidget(int controlId) const;
  const CGradientProgressCtrl& ProgressBar() const { return bar_; }
  std::string ControlText(int controlId) const;

  // IContentView
  void SetControlText(int controlId, const std::string& text) override;
  void SetControlVisible(int controlId, bool visible) override;
  void SetProgressPos(int pos) override;
  void Navigate(const std::string& url) override;
  void OnReadyChanged(bool ready) override;

  // The names screen readers give the two buttons and the bar (the launcher speaks Chinese).
  static constexpr const char* kMinimiseName = "最小化";
  static constexpr const char* kCloseName = "关闭";
  static constexpr const char* kProgressName = "更新进度";

  // The launcher path the page reads back (at most 259 UTF-16 units).
  static std::string LauncherPathForPage();

 private:
  void LoadFaces();
  static void OnScaleChanged(GObject*, GParamSpec*, gpointer);

  std::string resourceDir_;
  Actions actions_;
  GtkWidget* fixed_ = nullptr;
  CGradientProgressCtrl bar_;
  ContentLabels labels_;
  CPngButton minimise_, close_;
  std::unique_ptr<WebViewHost> browser_;
  LauncherEntryProgress taskBarProgress_;
  GtkWidget* barWidget_ = nullptr;
  GtkWidget* statusWidget_ = nullptr;
  GtkWidget* progressTextWidget_ = nullptr;
  GtkWidget* messageWidget_ = nullptr;
  GtkWidget* minimiseWidget_ = nullptr;
  GtkWidget* closeWidget_ = nullptr;
};
