// Message boxes through MessageBoxW: the caller's caption and text, its icon and buttons.
#include <windows.h>

#include <string>

#include "log/LauncherLog.h"
#include "os/SystemMessageBox.h"
#include "os/base/Win32Text.h"

namespace os {

unsigned SystemMessageBoxType(MsgIcon icon, MsgButtons buttons) {
  unsigned type = buttons == MsgButtons::YesNo ? MB_YESNO : MB_OK;
  switch (icon) {
    case MsgIcon::Information: type |= MB_ICONINFORMATION; break;
    case MsgIcon::Warning: type |= MB_ICONWARNING; break;
    case MsgIcon::Error: type |= MB_ICONERROR; break;
    case MsgIcon::Question: type |= MB_ICONQUESTION; break;
  }
  return type;
}

MsgAnswer SystemMessageBoxAnswer(int result, MsgButtons buttons) {
  if (buttons == MsgButtons::YesNo) return result == IDYES ? MsgAnswer::Yes : MsgAnswer::No;
  return MsgAnswer::Ok;
}

MessageBoxPresenter SystemMessageBoxPresenter(std::function<void*()> owner) {
  return [owner](const std::string& text, const std::string& caption, MsgIcon icon, MsgButtons buttons) {
    HWND window = owner ? static_cast<HWND>(owner()) : nullptr;
    const int result = MessageBoxW(window, win32::Wide(text).c_str(), win32::Wide(caption).c_str(),
                                   SystemMessageBoxType(icon, buttons));
    if (result == 0) {
      // No box (no desktop): the text goes to the log and the safe answer is taken.
      LogError("message box not shown, error " + std::to_string(GetLastError()) + ": [" + caption + "] " + text,
               "ShowMessageBox", "MessageBoxWin32", __LINE__);
    }
    return SystemMessageBoxAnswer(result, buttons);
  };
}

}  // namespace os
