// The permission bits a file unpacked from an archive entry gets. Pure function, any thread.
#pragma once

#include <minizip/unzip.h>

// Bits stored by a Unix archiver (executables keep their execute bits), without the set-id and
// sticky bits and within the umask, as a file created here would be: an archive does not decide
// that others may write into the client. 0 when the entry carries none. The extraction's rule,
// for the moves of staged files.
unsigned StoredMode(const unz_file_info64& info, unsigned umask);
