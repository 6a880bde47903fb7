#include <windows.h>
// After windows.h, which they need.
#include <shlobj.h>

#include <cwchar>

#include "os/ShellFolders.h"
#include "os/base/Win32Text.h"

namespace os {
namespace {

// A folder of the user's profile; empty when the shell does not know it.
std::string SpecialFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  if (!SHGetSpecialFolderPathW(nullptr, path, csidl, FALSE)) return {};
  return win32::Narrow(path, std::wcslen(path));
}

}  // namespace

std::string StartMenuDir() { return SpecialFolder(CSIDL_STARTMENU); }
std::string DesktopDir() { return SpecialFolder(CSIDL_DESKTOPDIRECTORY); }
const char* LinkExtension() { return ".lnk"; }

}  // namespace os
