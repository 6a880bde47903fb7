// Child windows that show the skinned controls (drawn through GdiPainter). The control objects
// stay with the caller and must outlive their windows. Each window paints its whole rectangle
// over black, the colour its parent (the content window) keys out, so only the control shows.
// UI thread only.
#pragma once

#include <windows.h>

class CGradientProgressCtrl;
class CPngButton;
class CStaticEx;

// Repaint with InvalidateRect(window, nullptr, FALSE) after a change.
HWND NewProgressWindow(HWND parent, int id, int x, int y, int width, int height, CGradientProgressCtrl* bar);

// The label's text; it takes no clicks (they go to the window below, which drags the launcher).
// The window's own text follows the label's for screen readers (SetLabelText).
HWND NewLabelWindow(HWND parent, int id, int x, int y, int width, int height, CStaticEx* label);
void SetLabelText(HWND window, CStaticEx* label, const char* utf8);

// A 46 x 46 button: hover, press and release feed the button's state machine; the mouse capture
// taken on a press delivers the release even after the pointer left the button; double clicks
// arrive as two plain presses. A disabled window shows the disabled face.
HWND NewPngButtonWindow(HWND parent, int id, int x, int y, CPngButton* button);
