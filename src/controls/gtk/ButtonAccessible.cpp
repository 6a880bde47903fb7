#include "controls/gtk/ButtonAccessible.h"

#include <gtk/gtk-a11y.h>

#include "controls/CPngButton.h"

namespace {

constexpr char kButtonKey[] = "vellmora-png-button";

struct Widget {
  GtkDrawingArea parent;
};
struct WidgetClass {
  GtkDrawingAreaClass parent;
};
struct Accessible {
  GtkWidgetAccessible parent;
};
struct AccessibleClass {
  GtkWidgetAccessibleClass parent;
};

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

void AccessibleInitialize(AtkObject* object, gpointer data) {
  ATK_OBJECT_CLASS(g_type_class_peek_parent(G_OBJECT_GET_CLASS(object)))->initialize(object, data);
  atk_object_set_role(object, ATK_ROLE_PUSH_BUTTON);
}

void AccessibleClassInit(gpointer klass, gpointer) { ATK_OBJECT_CLASS(klass)->initialize = AccessibleInitialize; }

GType AccessibleType() {
  static gsize type = 0;
  if (g_once_init_enter(&type)) {
    const GType t =
        g_type_register_static_simple(GTK_TYPE_WIDGET_ACCESSIBLE, "VellmoraButtonAccessible", sizeof(AccessibleClass),
                                      AccessibleClassInit, sizeof(Accessible), nullptr, GTypeFlags(0));
    const GInterfaceInfo action = {ActionInit, nullptr, nullptr};
    g_type_add_interface_static(t, ATK_TYPE_ACTION, &action);
    g_once_init_leave(&type, t);
  }
  return static_cast<GType>(type);
}

void WidgetClassInit(gpointer klass, gpointer) {
  gtk_widget_class_set_accessible_type(GTK_WIDGET_CLASS(klass), AccessibleType());
}

}  // namespace

GType SkinnedButtonType() {
  static gsize type = 0;
  if (g_once_init_enter(&type)) {
    g_once_init_leave(&type,
                      g_type_register_static_simple(GTK_TYPE_DRAWING_AREA, "VellmoraSkinnedButton", sizeof(WidgetClass),
                                                    WidgetClassInit, sizeof(Widget), nullptr, GTypeFlags(0)));
  }
  return static_cast<GType>(type);
}

void SetSkinnedButton(GtkWidget* widget, CPngButton* button) {
  g_object_set_data(G_OBJECT(widget), kButtonKey, button);
}

CPngButton* SkinnedButton(GtkWidget* widget) {
  return static_cast<CPngButton*>(g_object_get_data(G_OBJECT(widget), kButtonKey));
}
