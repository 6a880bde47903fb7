#include "controls/gtk/AccessibleWidgetType.h"

#include <gtk/gtk-a11y.h>

namespace {

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
  AtkRole role;  // from the registration
};

void AccessibleInitialize(AtkObject* object, gpointer data) {
  ATK_OBJECT_CLASS(g_type_class_peek_parent(G_OBJECT_GET_CLASS(object)))->initialize(object, data);
  atk_object_set_role(object, reinterpret_cast<AccessibleClass*>(G_OBJECT_GET_CLASS(object))->role);
}

void AccessibleClassInit(gpointer klass, gpointer role) {
  ATK_OBJECT_CLASS(klass)->initialize = AccessibleInitialize;
  static_cast<AccessibleClass*>(klass)->role = static_cast<AtkRole>(GPOINTER_TO_INT(role));
}

void WidgetClassInit(gpointer klass, gpointer accessibleType) {
  gtk_widget_class_set_accessible_type(GTK_WIDGET_CLASS(klass), static_cast<GType>(GPOINTER_TO_SIZE(accessibleType)));
}

}  // namespace

GType RegisterAccessibleWidgetType(const char* widgetTypeName, const char* accessibleTypeName, AtkRole role,
                                   GType interfaceType, GInterfaceInitFunc interfaceInit) {
  GTypeInfo accessible = {};
  accessible.class_size = sizeof(AccessibleClass);
  accessible.class_init = AccessibleClassInit;
  accessible.class_data = GINT_TO_POINTER(role);
  accessible.instance_size = sizeof(Accessible);
  const GType accessibleType =
      g_type_register_static(GTK_TYPE_WIDGET_ACCESSIBLE, accessibleTypeName, &accessible, GTypeFlags(0));
  const GInterfaceInfo extra = {interfaceInit, nullptr, nullptr};
  g_type_add_interface_static(accessibleType, interfaceType, &extra);

  GTypeInfo widget = {};
  widget.class_size = sizeof(WidgetClass);
  widget.class_init = WidgetClassInit;
  widget.class_data = GSIZE_TO_POINTER(accessibleType);
  widget.instance_size = sizeof(Widget);
  return g_type_register_static(GTK_TYPE_DRAWING_AREA, widgetTypeName, &widget, GTypeFlags(0));
}
