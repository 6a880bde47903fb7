// Windows side of the window messages: WM_COPYDATA to the window whose handle the caller names, and
// the game's top-level window found by its process. Any thread.
#include <windows.h>

#include <cstdint>

#include "os/WindowMessage.h"

namespace os {
namespace {

// How long a send waits for the receiving window. SendMessageW would wait for ever: a hung
// platform window would keep the hidden launcher, and with it the instance lock, alive for good.
constexpr UINT kSendTimeoutMs = 10000;

struct WindowSearch {
  DWORD pid;
  HWND found;
};

BOOL CALLBACK MatchProcess(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<WindowSearch*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search->pid) return TRUE;
  search->found = window;
  return FALSE;  // the first one
}

}  // namespace

// The payload travels in a COPYDATASTRUCT (dwData the kind); wParam is the sender's window. The
// answer is what the receiver returned: 0 for no window, a failed send, or one that timed out.
long SendWindowPayload(unsigned long targetWindow, unsigned long senderWindow, uint32_t dataKind,
                       const std::vector<uint8_t>& data) {
  HWND target = reinterpret_cast<HWND>(static_cast<uintptr_t>(targetWindow));
  if (!target) return 0;
  COPYDATASTRUCT copy{};
  copy.dwData = dataKind;
  copy.cbData = static_cast<DWORD>(data.size());
  copy.lpData = const_cast<uint8_t*>(data.data());
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(target, WM_COPYDATA, static_cast<WPARAM>(senderWindow), reinterpret_cast<LPARAM>(&copy),
                           SMTO_NORMAL | SMTO_ABORTIFHUNG, kSendTimeoutMs, &result))
    return 0;
  return static_cast<long>(result);
}

// The first top-level window of the process, shown maximised without waiting for its thread.
bool MaximiseWindowOfProcess(ProcessId pid) {
  if (pid <= 0) return false;
  WindowSearch search{static_cast<DWORD>(pid), nullptr};
  EnumWindows(MatchProcess, reinterpret_cast<LPARAM>(&search));
  if (!search.found) return false;
  ShowWindowAsync(search.found, SW_SHOWMAXIMIZED);
  return true;
}

}  // namespace os
