#include "controls/gtk/SkinnedWidgets.h"

#include "controls/CGradientProgressCtrl.h"
#include "controls/CPngButton.h"
#include "controls/CStaticEx.h"
#include "controls/gtk/ButtonAccessible.h"
#include "controls/gtk/CairoPainter.h"
#include "controls/gtk/ProgressAccessible.h"

namespace {

gboolean DrawProgress(GtkWidget* w, cairo_t* cr, gpointer data) {
  CairoPainter painter(cr);
  static_cast<CGradientProgressCtrl*>(data)->Paint(painter, gtk_widget_get_allocated_width(w),
                                                   gtk_widget_get_allocated_height(w));
  return TRUE;
}

gboolean DrawLabel(GtkWidget* w, cairo_t* cr, gpointer data) {
  CairoPainter painter(cr);
  static_cast<CStaticEx*>(data)->Paint(painter, gtk_widget_get_allocated_width(w), gtk_widget_get_allocated_height(w));
  return TRUE;
}

gboolean DrawButton(GtkWidget*, cairo_t* cr, gpointer data) {
  CairoPainter painter(cr);
  static_cast<CPngButton*>(data)->Paint(painter);
  return TRUE;
}

void Repaint(GtkWidget* w, bool needed) {
  if (needed) gtk_widget_queue_draw(w);
}

gboolean ButtonMotion(GtkWidget* w, GdkEventMotion*, gpointer data) {
  Repaint(w, static_cast<CPngButton*>(data)->OnMouseMove());
  return TRUE;
}

gboolean ButtonLeave(GtkWidget* w, GdkEventCrossing* e, gpointer data) {
  // Leaving into a child window or from a grab change is no leave of the button.
  if (e->detail == GDK_NOTIFY_INFERIOR) return FALSE;
  Repaint(w, static_cast<CPngButton*>(data)->OnMouseLeave());
  return TRUE;
}

gboolean ButtonPress(GtkWidget* w, GdkEventButton* e, gpointer data) {
  if (e->button == 1 && e->type == GDK_BUTTON_PRESS) Repaint(w, static_cast<CPngButton*>(data)->OnLButtonDown());
  return TRUE;  // never a window drag, never a double click
}

gboolean ButtonRelease(GtkWidget* w, GdkEventButton* e, gpointer data) {
  if (e->button != 1) return TRUE;
  // The click action may end the window's run; keep the widget alive until the repaint request.
  g_object_ref(w);
  Repaint(w, static_cast<CPngButton*>(data)->OnLButtonUp());
  g_object_unref(w);
  return TRUE;
}

void ButtonStateChanged(GtkWidget* w, GtkStateFlags, gpointer data) {
  auto* button = static_cast<CPngButton*>(data);
  const bool enabled = gtk_widget_is_sensitive(w);
  if (enabled == !button->IsDisabled()) return;
  Repaint(w, button->OnEnable(enabled));
}

}  // namespace

GtkWidget* NewProgressWidget(CGradientProgressCtrl* bar) {
  GtkWidget* w = GTK_WIDGET(g_object_new(SkinnedProgressType(), nullptr));
  SetSkinnedProgress(w, bar);
  g_signal_connect(w, "draw", G_CALLBACK(DrawProgress), bar);
  return w;
}

GtkWidget* NewLabelWidget(CStaticEx* label) {
  GtkWidget* w = gtk_drawing_area_new();
  atk_object_set_role(gtk_widget_get_accessible(w), ATK_ROLE_LABEL);
  g_signal_connect(w, "draw", G_CALLBACK(DrawLabel), label);
  return w;
}

GtkWidget* NewPngButtonWidget(CPngButton* button) {
  GtkWidget* w = GTK_WIDGET(g_object_new(SkinnedButtonType(), nullptr));
  SetSkinnedButton(w, button);
  gtk_widget_set_size_request(w, CPngButton::kWidth, CPngButton::kHeight);
  gtk_widget_add_events(
      w, GDK_POINTER_MOTION_MASK | GDK_LEAVE_NOTIFY_MASK | GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK);
  g_signal_connect(w, "draw", G_CALLBACK(DrawButton), button);
  g_signal_connect(w, "motion-notify-event", G_CALLBACK(ButtonMotion), button);
  g_signal_connect(w, "leave-notify-event", G_CALLBACK(ButtonLeave), button);
  g_signal_connect(w, "button-press-event", G_CALLBACK(ButtonPress), button);
  g_signal_connect(w, "button-release-event", G_CALLBACK(ButtonRelease), button);
  g_signal_connect(w, "state-flags-changed", G_CALLBACK(ButtonStateChanged), button);
  return w;
}

void SetAccessibleName(GtkWidget* widget, const std::string& name) {
  atk_object_set_name(gtk_widget_get_accessible(widget), name.c_str());
}
