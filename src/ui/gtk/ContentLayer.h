// The content layer's container: a GtkFixed whose size is the window's own, whatever its children
// ask for. Each child gets exactly the rectangle it was placed with (its size request), so a child
// that wants more room (the page reports its document's size) can never grow the window. UI thread.
#pragma once

#include <gtk/gtk.h>

// A new layer of width x height logical pixels; put children with PlaceInContentLayer.
GtkWidget* NewContentLayer(int width, int height);

// Puts w at (x, y) with the size w x h; the layer allocates exactly that rectangle.
void PlaceInContentLayer(GtkWidget* layer, GtkWidget* child, int x, int y, int w, int h);
