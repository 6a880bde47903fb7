// The widget types of the skinned controls: a drawing area whose accessible object has a role of
// its own and one more ATK interface (an action, a value). One registration for every such
// control, so each control file holds only what its screen-reader interface does. UI thread only.
#pragma once

#include <gtk/gtk.h>

// Registers the widget type widgetTypeName and its accessible type accessibleTypeName (role role,
// implementing interfaceType through interfaceInit). Call once per type (under g_once_init).
GType RegisterAccessibleWidgetType(const char* widgetTypeName, const char* accessibleTypeName, AtkRole role,
                                   GType interfaceType, GInterfaceInitFunc interfaceInit);
