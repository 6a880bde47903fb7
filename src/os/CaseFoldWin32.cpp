#include <windows.h>

#include "os/CaseFold.h"
#include "os/base/Win32Text.h"

namespace os {

// The system's own case mapping, independent of the user's language (as the registry compares).
std::string FoldCase(const std::string& utf8) {
  std::wstring text = win32::Wide(utf8);
  if (text.empty()) return utf8;
  if (LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_LOWERCASE, text.c_str(), static_cast<int>(text.size()), text.data(),
                    static_cast<int>(text.size()), nullptr, nullptr, 0) == 0)
    return utf8;
  return win32::Narrow(text);
}

}  // namespace os
