// How minizip reads the package: through a small cache of large blocks read at their offsets.
// Walking a directory of thousands of entries and reading each entry's local header are many
// small reads at scattered places; through the C library's streams each costs a seek and a read
// of the system, here a seek costs nothing and most reads come from a block already read.
// Update worker (one archive, one thread).
#pragma once

#include <minizip/ioapi.h>

// Sets functions so that unzOpen2_64 opens its path (as os::File::Open takes it) for reading
// through the cache. Writing is refused.
void SetCachedArchiveInput(zlib_filefunc64_def& functions);
