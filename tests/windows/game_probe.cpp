// The game, as the launch tests install it (copied to <game folder>\qvx.exe): it writes what it was
// started with to "started.bin" beside itself, then exits. The file holds its working directory,
// then each argument as CommandLineToArgvW splits its command line, every item ended by a NUL (an
// argument may hold a line feed).
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <string>

#include "os/FileSystem.h"
#include "os/base/Win32Text.h"

int main() {
  wchar_t self[MAX_PATH] = {};
  if (!GetModuleFileNameW(nullptr, self, MAX_PATH)) return 2;
  wchar_t cwd[MAX_PATH] = {};
  if (!GetCurrentDirectoryW(MAX_PATH, cwd)) return 2;
  std::string record = os::win32::Narrow(cwd, wcslen(cwd));
  record += '\0';
  int count = 0;
  wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!args) return 2;
  for (int i = 0; i < count; ++i) {
    record += os::win32::Narrow(args[i], wcslen(args[i]));
    record += '\0';
  }
  LocalFree(args);
  const std::string file = os::JoinPath(os::DirName(os::win32::Narrow(self, wcslen(self))), "started.bin");
  return os::WriteFileAtomically(file, record) == 0 ? 0 : 2;
}
