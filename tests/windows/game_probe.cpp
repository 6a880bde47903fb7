// The game, as the launch tests install it (copied to <game folder>\qvx.exe): it writes what it was
// started with to "started.bin" beside itself, then exits. The file holds its working directory,
// then each argument as CommandLineToArgvW splits its command line, every item ended by a NUL (an
// argument may hold a line feed).
// With "show-window" beside it (holding a number of milliseconds) it first shows a window of its
// own, and before exiting waits up to that long for someone to maximise it; "window.txt" then says
// "maximised <ms>" (the time since the process was created) or "not maximised".
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cstdlib>
#include <string>

#include "os/FileSystem.h"
#include "os/base/Win32Text.h"

namespace {

// Milliseconds since this process was created.
long long SinceCreation() {
  FILETIME created, exited, kernel, user, now;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return -1;
  GetSystemTimeAsFileTime(&now);
  auto ticks = [](const FILETIME& t) {
    return (static_cast<long long>(t.dwHighDateTime) << 32) | static_cast<long long>(t.dwLowDateTime);
  };
  return (ticks(now) - ticks(created)) / 10000;
}

// Runs the window's messages until it is maximised or the time is up.
std::string AwaitMaximise(HWND window, DWORD limitMs) {
  const ULONGLONG end = GetTickCount64() + limitMs;
  while (GetTickCount64() < end) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    if (IsZoomed(window)) return "maximised " + std::to_string(SinceCreation());
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
  return "not maximised";
}

}  // namespace

int main() {
  wchar_t self[MAX_PATH] = {};
  if (!GetModuleFileNameW(nullptr, self, MAX_PATH)) return 2;
  const std::string folder = os::DirName(os::win32::Narrow(self, wcslen(self)));

  // The window comes first: the launcher looks for it one second after the start.
  std::string waitText;
  HWND window = nullptr;
  if (os::ReadFile(os::JoinPath(folder, "show-window"), waitText)) {
    window = CreateWindowExW(0, L"STATIC", L"qvx", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 320, 240, nullptr, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
    if (!window) return 2;
  }

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
  if (os::WriteFileAtomically(os::JoinPath(folder, "started.bin"), record) != 0) return 2;

  if (window) {
    const std::string outcome = AwaitMaximise(window, static_cast<DWORD>(std::strtoul(waitText.c_str(), nullptr, 10)));
    DestroyWindow(window);
    if (os::WriteFileAtomically(os::JoinPath(folder, "window.txt"), outcome) != 0) return 2;
  }
  return 0;
}
