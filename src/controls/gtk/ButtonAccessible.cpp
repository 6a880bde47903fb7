#include "controls/gtk/ButtonAccessible.h"

#include <gtk/gtk-a11y.h>

#include "controls/CPngButton.h"
#include "controls/gtk/AccessibleWidgetType.h"

namespace {

constexpr char kButtonKey[] = "vellmora-png-button";

GtkWidget* WidgetOf(AtkAction* action) { return gtk_accessible_get_widget(GTK_ACCESSIBLE(action)); }

// The action runs from an idle callback, as a toolkit button's does: the screen reader's request
// returns before the action (which may end the window's run) happens.
gboolean DoAction(AtkAction* action, gint index) {
  GtkWidget* widget = WidgetOf(action);
  if (index != 0 || !widget || !gtk_widget_is_sensitive(widget) || !SkinnedButton(widget)) return FALSE;
  g_idle_add_full(
      G_PRIORITY_DEFAULT,
      [](gpointer data) -> gboolean {
        auto* w = static_cast<GtkWidget*>(data);
        if (CPngButton* button = SkinnedButton(w); button && button->clickAction) button->clickAction();
        return G_SOURCE_REMOVE;
      },
      g_object_ref(widget), g_object_unref);
  return TRUE;
}

gint ActionCount(AtkAction*) { return 1; }
const gchar* ActionName(AtkAction*, gint index) { return index == 0 ? "click" : nullptr; }

void ActionInit(gpointer iface, gpointer) {
  auto* action = static_cast<AtkActionIface*>(iface);
  action->do_action = DoAction;
  action->get_n_actions = ActionCount;
  action->get_name = ActionName;
}

}  // namespace

GType SkinnedButtonType() {
  static gsize type = 0;
  if (g_once_init_enter(&type)) {
    g_once_init_leave(&type, RegisterAccessibleWidgetType("VellmoraSkinnedButton", "VellmoraButtonAccessible",
                                                          ATK_ROLE_PUSH_BUTTON, ATK_TYPE_ACTION, ActionInit));
  }
  return static_cast<GType>(type);
}

void SetSkinnedButton(GtkWidget* widget, CPngButton* button) {
  g_object_set_data(G_OBJECT(widget), kButtonKey, button);
}

CPngButton* SkinnedButton(GtkWidget* widget) {
  return static_cast<CPngButton*>(g_object_get_data(G_OBJECT(widget), kButtonKey));
}
