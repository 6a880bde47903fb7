// What a screen reader sees of an image button: a push button with a name (set by the owner) and
// one action, "click", which runs the button's click action like a left click. UI thread only.
#pragma once

#include <gtk/gtk.h>

class CPngButton;

// The widget type of the image buttons: a drawing area whose accessible is the push button above.
GType SkinnedButtonType();

// The button a widget of that type shows (set when the widget is made).
void SetSkinnedButton(GtkWidget* widget, CPngButton* button);
CPngButton* SkinnedButton(GtkWidget* widget);
