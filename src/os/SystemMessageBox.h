// The system's own message box as the presenter of os::ShowMessageBox on Windows (MessageBoxW),
// owned by the window the owner function names when a box opens (the launcher's window while it
// exists, else none). Implemented by MessageBoxWin32.cpp; the GTK front end has a presenter of its
// own. UI thread only.
#pragma once

#include <functional>

#include "os/MessageBox.h"

namespace os {

// owner returns the owner window's handle (an HWND) or null.
MessageBoxPresenter SystemMessageBoxPresenter(std::function<void*()> owner);

// The MessageBoxW type for an icon and a set of buttons, and the answer a result stands for (a box
// that could not open answers like the default presenter: OK, or No).
unsigned SystemMessageBoxType(MsgIcon icon, MsgButtons buttons);
MsgAnswer SystemMessageBoxAnswer(int result, MsgButtons buttons);

}  // namespace os
