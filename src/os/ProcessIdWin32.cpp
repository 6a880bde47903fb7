// The portable process id holds Windows' DWORD ids: same width, and the ids the system hands out
// stay far below the sign bit.
#include <windows.h>

#include <type_traits>

#include "os/ProcessId.h"

static_assert(sizeof(DWORD) == sizeof(os::ProcessId) && std::is_signed_v<os::ProcessId>,
              "os::ProcessId must hold a DWORD process id");
