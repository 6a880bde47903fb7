// The delayed removal on Windows: the command processor waits a few seconds (three echo requests
// with their reply time-out, output discarded) so that this process has exited and released its
// files, then removes the folder with everything in it. rmdir /s removes a junction or a link
// inside the folder as the link, without entering it.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "os/DelayedRemoval.h"
#include "os/Prefix.h"
#include "os/base/Win32Text.h"

namespace os {
namespace {

// Characters the command processor reads as its own (command separators, redirections, escapes,
// variables, grouping): a folder named with one would run or remove something else.
constexpr char kCommandCharacters[] = "&|<>^%\"()!\r\n";

// The command for one folder; empty when the folder may not be handed to the command processor.
std::wstring RemovalCommand(const std::string& dir) {
  const std::string located = RemovableTree(dir);
  if (located.empty() || located.find_first_of(kCommandCharacters) != std::string::npos) return {};
  // A folder with a blank is quoted, or rmdir would take its parts for several folders.
  const std::string folder =
      located.find_first_of(" \t") == std::string::npos ? located + "\\" : "\"" + located + "\\\"";
  return win32::Wide("/c ping 1.1.1.1 -n 3 -w 3000 > Nul & rmdir --ignore-fail-on-non-empty /q /s " + folder);
}

}  // namespace

// Main thread, the log closed. A folder that may not be removed is left out: nothing is reported
// but a line on standard error, since the caller is about to exit.
void StartDelayedRemoval(const std::vector<std::string>& dirs) {
  for (const std::string& dir : dirs) {
    const std::wstring command = RemovalCommand(dir);
    if (command.empty()) {
      std::fprintf(stderr, "delayed removal: %s is left in place\n", dir.c_str());
      continue;
    }
    ShellExecuteW(nullptr, L"open", L"cmd.exe", command.c_str(), nullptr, SW_HIDE);
  }
}

}  // namespace os
