#include "ui/gtk/ContentLayer.h"

namespace {

struct ContentLayer {
  GtkFixed parent;
  int width;
  int height;
};

struct ContentLayerClass {
  GtkFixedClass parent;
};

GType ContentLayerType();

ContentLayer* AsLayer(GtkWidget* w) { return G_TYPE_CHECK_INSTANCE_CAST(w, ContentLayerType(), ContentLayer); }

void PreferredWidth(GtkWidget* w, gint* minimum, gint* natural) { *minimum = *natural = AsLayer(w)->width; }

void PreferredHeight(GtkWidget* w, gint* minimum, gint* natural) { *minimum = *natural = AsLayer(w)->height; }

// Every visible child gets its placed rectangle. Its preferred size is still asked for (GTK
// expects that before an allocation) but never used.
void SizeAllocate(GtkWidget* w, GtkAllocation* allocation) {
  gtk_widget_set_allocation(w, allocation);
  GList* children = gtk_container_get_children(GTK_CONTAINER(w));
  for (GList* l = children; l; l = l->next) {
    GtkWidget* child = GTK_WIDGET(l->data);
    if (!gtk_widget_get_visible(child)) continue;
    int x = 0, y = 0, cw = -1, ch = -1;
    gtk_container_child_get(GTK_CONTAINER(w), child, "x", &x, "y", &y, nullptr);
    gtk_widget_get_size_request(child, &cw, &ch);
    GtkRequisition ignored;
    gtk_widget_get_preferred_size(child, &ignored, nullptr);
    GtkAllocation rect = {allocation->x + x, allocation->y + y, cw < 0 ? ignored.width : cw,
                          ch < 0 ? ignored.height : ch};
    gtk_widget_size_allocate(child, &rect);
  }
  g_list_free(children);
}

void ClassInit(gpointer klass, gpointer) {
  GtkWidgetClass* widget = GTK_WIDGET_CLASS(klass);
  widget->get_preferred_width = PreferredWidth;
  widget->get_preferred_height = PreferredHeight;
  widget->size_allocate = SizeAllocate;
}

GType ContentLayerType() {
  static gsize type = 0;
  if (g_once_init_enter(&type)) {
    g_once_init_leave(&type,
                      g_type_register_static_simple(GTK_TYPE_FIXED, "VellmoraContentLayer", sizeof(ContentLayerClass),
                                                    ClassInit, sizeof(ContentLayer), nullptr, GTypeFlags(0)));
  }
  return static_cast<GType>(type);
}

}  // namespace

GtkWidget* NewContentLayer(int width, int height) {
  GtkWidget* w = GTK_WIDGET(g_object_new(ContentLayerType(), nullptr));
  AsLayer(w)->width = width;
  AsLayer(w)->height = height;
  return w;
}

void PlaceInContentLayer(GtkWidget* layer, GtkWidget* child, int x, int y, int w, int h) {
  gtk_widget_set_size_request(child, w, h);
  gtk_fixed_put(GTK_FIXED(layer), child, x, y);
}
