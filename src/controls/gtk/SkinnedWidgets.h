// GTK widgets that show the skinned controls (drawn through CairoPainter). The control objects stay with the caller and
// must outlive their widgets. UI thread only.
#pragma once

#include <gtk/gtk.h>

#include <string>

class CGradientProgressCtrl;
class CPngButton;
class CStaticEx;

// A drawing area that paints the bar; repaint with gtk_widget_queue_draw after a change. Screen
// readers see a progress bar whose value is the position (ProgressAccessible.h).
GtkWidget* NewProgressWidget(CGradientProgressCtrl* bar);

// A drawing area that paints the label's text over what lies behind it; screen readers see a
// label (its name is the owner's to keep equal to the text). It takes no clicks, so
// a press on a label drags the window like a press on the background.
GtkWidget* NewLabelWidget(CStaticEx* label);

// A 46 x 46 button: hover, press and release feed the button's state machine; the pointer grab
// GTK takes on a press delivers the release even after the pointer left the button, and double
// clicks arrive as two plain press/release pairs. Insensitive widgets show the disabled face.
// Screen readers see a push button whose "click" action runs the click action.
GtkWidget* NewPngButtonWidget(CPngButton* button);

// The name a screen reader says for the widget.
void SetAccessibleName(GtkWidget* widget, const std::string& name);
