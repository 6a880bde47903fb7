// What a screen reader sees of the progress bar: a progress bar with a name (set by the owner)
// whose value is the bar's position within its range, as a number and as "42%". UI thread only.
#pragma once

#include <gtk/gtk.h>

#include <string>

class CGradientProgressCtrl;

// The widget type of the progress bar: a drawing area whose accessible is the progress bar above.
GType SkinnedProgressType();

void SetSkinnedProgress(GtkWidget* widget, CGradientProgressCtrl* bar);
CGradientProgressCtrl* SkinnedProgress(GtkWidget* widget);

// Tells assistive technologies the value changed (call after the bar's position moved).
void NotifyProgressValueChanged(GtkWidget* widget);

// The value's text for a position in a range: the share of the range in whole percent.
std::string ProgressValueText(int pos, int lower, int upper);
