// What the test program's positioned-I/O stand-ins do to direct descriptors (see
// direct_fault_shim.cpp). Any thread.
#pragma once

#include <atomic>

namespace direct_fault {

// Not 0: every direct read and write fails with this errno.
extern std::atomic<int> refuseWith;
// Every direct read of more than two blocks answers with 1000 bytes fewer than it read.
extern std::atomic<bool> shortReads;

}  // namespace direct_fault
