#include "ui/gtk/ContentView.h"

#include "controls/gtk/ProgressAccessible.h"
#include "controls/gtk/SkinnedWidgets.h"
#include "os/CodePage.h"
#include "os/Process.h"
#include "ui/Layout.h"
#include "ui/gtk/ContentLayer.h"

#ifndef VELLMORA_APP_ID
#define VELLMORA_APP_ID "vellmora"
#endif

namespace {

void Place(GtkWidget* layer, GtkWidget* w, const layout::Rect& r) { PlaceInContentLayer(layer, w, r.x, r.y, r.w, r.h); }

}  // namespace

ContentView::ContentView(const std::string& resourceDir, Actions actions)
    : resourceDir_(resourceDir),
      actions_(std::move(actions)),
      taskBarProgress_(std::string(VELLMORA_APP_ID) + ".desktop") {
  fixed_ = NewContentLayer(layout::kWindowWidth, layout::kWindowHeight);
  g_object_ref_sink(fixed_);

  // The launcher's bar: one colour (so 255 bands), dark blue behind, no percentage text.
  bar_.SetRange(0, 100);
  bar_.SetPos(0);
  bar_.SetStartColor(0xFF8400);
  bar_.SetEndColor(0xFF8400);
  bar_.SetBkColor(0x77382A);
  bar_.ShowPercent(false);
  labels_.SetTextColor(0xFFFFFF);

  browser_ = std::make_unique<WebViewHost>(actions_.external, actions_.openExternally);
  browser_->SetMirror(false, LauncherPathForPage());
  Place(fixed_, browser_->Widget(), layout::kBrowser);

  barWidget_ = NewProgressWidget(&bar_);
  Place(fixed_, barWidget_, layout::kProgressBar);
  statusWidget_ = NewLabelWidget(&labels_.status);
  Place(fixed_, statusWidget_, layout::kStatusLabel);
  progressTextWidget_ = NewLabelWidget(&labels_.progressText);
  Place(fixed_, progressTextWidget_, layout::kProgressText);
  messageWidget_ = NewLabelWidget(&labels_.message);
  Place(fixed_, messageWidget_, layout::kMessageText);
  for (GtkWidget* w : {barWidget_, statusWidget_, progressTextWidget_, messageWidget_}) {
    gtk_widget_set_no_show_all(w, TRUE);  // the logic decides when they show
  }

  LoadFaces();
  g_signal_connect(fixed_, "notify::scale-factor", G_CALLBACK(OnScaleChanged), this);
  minimise_.clickAction = [this] {
    if (actions_.minimise) actions_.minimise();
  };
  close_.clickAction = [this] {
    if (actions_.close) actions_.close();
  };
  minimiseWidget_ = NewPngButtonWidget(&minimise_);
  Place(fixed_, minimiseWidget_, layout::kMinimiseButton);
  closeWidget_ = NewPngButtonWidget(&close_);
  Place(fixed_, closeWidget_, layout::kCloseButton);

  // What a screen reader says: the buttons' actions, the bar's purpose (its value is the percentage).
  SetAccessibleName(minimiseWidget_, kMinimiseName);
  SetAccessibleName(closeWidget_, kCloseName);
  SetAccessibleName(barWidget_, kProgressName);
}

ContentView::~ContentView() {
  g_signal_handlers_disconnect_by_data(fixed_, this);
  if (GtkWidget* parent = gtk_widget_get_parent(fixed_)) gtk_container_remove(GTK_CONTAINER(parent), fixed_);
  gtk_widget_destroy(fixed_);
  g_object_unref(fixed_);
  browser_.reset();
}

// The button faces for the layer's current scale factor.
void ContentView::LoadFaces() {
  const int scale = gtk_widget_get_scale_factor(fixed_);
  const std::string minimiseFace = resourceDir_ + "/btn-minimise.png";
  const std::string closeFace = resourceDir_ + "/btn-close.png";
  minimise_.LoadFaces(minimiseFace, minimiseFace, minimiseFace, minimiseFace, scale);
  close_.LoadFaces(closeFace, closeFace, closeFace, closeFace, scale);
}

void ContentView::OnScaleChanged(GObject*, GParamSpec*, gpointer data) {
  auto* self = static_cast<ContentView*>(data);
  self->LoadFaces();
  gtk_widget_queue_draw(self->fixed_);
}

GtkWidget* ContentView::ControlWidget(int controlId) const {
  switch (controlId) {
    case kIdProgressBar: return barWidget_;
    case kIdProgressText: return progressTextWidget_;
    case kIdStatusLabel: return statusWidget_;
    case kIdMessageText: return messageWidget_;
    case kIdBrowser: return browser_->Widget();
    case kIdMinimiseButton: return minimiseWidget_;
    case kIdCloseButton: return closeWidget_;
    default: return nullptr;
  }
}

std::string ContentView::ControlText(int controlId) const { return labels_.Text(controlId); }

void ContentView::SetControlText(int controlId, const std::string& text) {
  CStaticEx* label = labels_.Find(controlId);
  if (!label) return;
  label->SetWindowText(text);
  if (GtkWidget* w = ControlWidget(controlId)) {
    SetAccessibleName(w, CStaticEx::ParseMnemonics(text).text);
    gtk_widget_queue_draw(w);
  }
}

void ContentView::SetControlVisible(int controlId, bool visible) {
  if (GtkWidget* w = ControlWidget(controlId)) gtk_widget_set_visible(w, visible);
  // The task bar shows the percentage exactly while the window's bar does.
  if (controlId == kIdProgressBar) taskBarProgress_.SetVisible(visible);
}

void ContentView::SetProgressPos(int pos) {
  bar_.SetPos(pos);
  gtk_widget_queue_draw(barWidget_);
  NotifyProgressValueChanged(barWidget_);
  taskBarProgress_.SetPercent(pos);
}

void ContentView::Navigate(const std::string& url) { browser_->Navigate(url); }

void ContentView::OnReadyChanged(bool ready) { browser_->SetMirror(ready, LauncherPathForPage()); }

std::string ContentView::LauncherPathForPage() { return os::TruncateUtf16(os::ExecutablePath(), 259); }
