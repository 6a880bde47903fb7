// The portable process id is the POSIX one, so ids pass between the host layer's process calls
// and portable code unchanged.
#include <sys/types.h>

#include <type_traits>

#include "os/ProcessId.h"

static_assert(std::is_same_v<pid_t, os::ProcessId>, "os::ProcessId must be pid_t");
