// The id of a process the launcher started: what the host layer returns from a start and takes to
// wait for the process or find its window.
#pragma once

namespace os {

// The system's process id (the host layer checks that it is its pid type); 0 or less is no process.
using ProcessId = int;

}  // namespace os
