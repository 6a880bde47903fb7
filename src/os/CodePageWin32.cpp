#include <windows.h>

#include "os/CodePage.h"
#include "os/base/Win32Text.h"

namespace os {

// The system's ANSI code page (GetACP), through UTF-16. Characters it lacks become '?', the
// system's default character.
std::string Utf8ToAnsi(const std::string& utf8) {
  const std::wstring wide = win32::Wide(utf8);
  if (wide.empty()) return {};
  const int length = static_cast<int>(wide.size());
  const int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), length, nullptr, 0, "?", nullptr);
  if (n <= 0) return {};
  std::string out(n, '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), length, out.data(), n, "?", nullptr);
  return out;
}

// Bytes that do not convert become U+FFFD.
std::string AnsiToUtf8(const std::string& ansi) {
  if (ansi.empty()) return {};
  const int length = static_cast<int>(ansi.size());
  const int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), length, nullptr, 0);
  if (n <= 0) return {};
  std::wstring wide(n, L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), length, wide.data(), n);
  return win32::Narrow(wide);
}

}  // namespace os
