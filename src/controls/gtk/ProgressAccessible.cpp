#include "controls/gtk/ProgressAccessible.h"

#include <gtk/gtk-a11y.h>

#include <string>

#include "controls/CGradientProgressCtrl.h"
#include "controls/gtk/AccessibleWidgetType.h"

namespace {

constexpr char kBarKey[] = "vellmora-progress";

const CGradientProgressCtrl* BarOf(AtkValue* value) {
  GtkWidget* widget = gtk_accessible_get_widget(GTK_ACCESSIBLE(value));
  return widget ? SkinnedProgress(widget) : nullptr;
}

void ValueAndText(AtkValue* value, gdouble* current, gchar** text) {
  const CGradientProgressCtrl* bar = BarOf(value);
  const int pos = bar ? bar->GetPos() : 0;
  if (current) *current = pos;
  if (text) *text = g_strdup(bar ? ProgressValueText(pos, bar->Lower(), bar->Upper()).c_str() : "");
}

AtkRange* Range(AtkValue* value) {
  const CGradientProgressCtrl* bar = BarOf(value);
  return atk_range_new(bar ? bar->Lower() : 0, bar ? bar->Upper() : 100, nullptr);
}

gdouble Increment(AtkValue*) { return 1; }

// The older calls some tools still use.
void SetInt(GValue* out, int v) {
  g_value_init(out, G_TYPE_DOUBLE);
  g_value_set_double(out, v);
}
void CurrentValue(AtkValue* value, GValue* out) {
  const CGradientProgressCtrl* bar = BarOf(value);
  SetInt(out, bar ? bar->GetPos() : 0);
}
void MinimumValue(AtkValue* value, GValue* out) {
  const CGradientProgressCtrl* bar = BarOf(value);
  SetInt(out, bar ? bar->Lower() : 0);
}
void MaximumValue(AtkValue* value, GValue* out) {
  const CGradientProgressCtrl* bar = BarOf(value);
  SetInt(out, bar ? bar->Upper() : 100);
}

void ValueInit(gpointer iface, gpointer) {
  auto* v = static_cast<AtkValueIface*>(iface);
  v->get_value_and_text = ValueAndText;
  v->get_range = Range;
  v->get_increment = Increment;
  v->get_current_value = CurrentValue;
  v->get_minimum_value = MinimumValue;
  v->get_maximum_value = MaximumValue;
}

}  // namespace

GType SkinnedProgressType() {
  static gsize type = 0;
  if (g_once_init_enter(&type)) {
    g_once_init_leave(&type, RegisterAccessibleWidgetType("VellmoraSkinnedProgress", "VellmoraProgressAccessible",
                                                          ATK_ROLE_PROGRESS_BAR, ATK_TYPE_VALUE, ValueInit));
  }
  return static_cast<GType>(type);
}

void SetSkinnedProgress(GtkWidget* widget, CGradientProgressCtrl* bar) {
  g_object_set_data(G_OBJECT(widget), kBarKey, bar);
}

CGradientProgressCtrl* SkinnedProgress(GtkWidget* widget) {
  return static_cast<CGradientProgressCtrl*>(g_object_get_data(G_OBJECT(widget), kBarKey));
}

std::string ProgressValueText(int pos, int lower, int upper) {
  if (upper <= lower) return "100%";
  const long long share = (static_cast<long long>(pos) - lower) * 100 / (static_cast<long long>(upper) - lower);
  return std::to_string(share < 0 ? 0 : share > 100 ? 100 : share) + "%";
}

void NotifyProgressValueChanged(GtkWidget* widget) {
  AtkObject* object = gtk_widget_get_accessible(widget);
  const CGradientProgressCtrl* bar = SkinnedProgress(widget);
  if (!object || !bar) return;
  const std::string text = ProgressValueText(bar->GetPos(), bar->Lower(), bar->Upper());
  g_signal_emit_by_name(object, "value-changed", static_cast<gdouble>(bar->GetPos()), text.c_str());
  g_object_notify(G_OBJECT(object), "accessible-value");
}
