// What the player is told when the update fails on the local disk rather than on the network: a
// message that names the disk, so nobody checks a network that is fine. Update worker.
#pragma once

#include "update/IWindowOperations.h"

// The message for a local failure with the given errno: no space (ENOSPC, EDQUOT) or anything
// else the disk refused (permissions, I/O errors).
const char* DiskFailureMessage(int error);

// Whether a failed create, write or rename of an entry is the disk's doing (no room, no
// permission, an I/O error, a folder where the file goes) rather than the archive's (a name whose
// folder it never made, a name the file system cannot hold). The extraction's rule, for the moves
// of staged files.
bool IsDiskError(int error);

// Shows DiskFailureMessage(error) in the message view.
void ShowDiskFailure(IWindowOperations* window, int error);
