// Messages to other programs' windows, addressed by native window id (an X window id here).
// See docs/PLATFORM_MESSAGES.md for the wire protocol. Safe from any thread: every call opens its
// own display connection.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "os/ProcessId.h"

namespace os {

// Delivers a block of bytes to the window targetWindow, tagged with dataKind and the sender's
// window id: the bytes go into a property on the target window, then a client message announces
// them. Returns 1 when the display accepted both for an existing window, 0 otherwise (no display,
// window 0, a window that does not exist).
long SendWindowPayload(unsigned long targetWindow, unsigned long senderWindow, uint32_t dataKind,
                       const std::vector<uint8_t>& data);

// Finds the first top-level window whose _NET_WM_PID is pid and shows it maximised (asking the
// window manager, or presetting the state on a window not yet mapped). False when none is found
// or there is no display.
bool MaximiseWindowOfProcess(ProcessId pid);

// Atom names of the protocol (the receiver side needs them too).
inline constexpr char kPayloadAtom[] = "_VELLMORA_COPYDATA";

}  // namespace os
