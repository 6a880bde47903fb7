// Whether unpacking the package while it downloads still pays. The stager inflates and writes on
// one thread; on a fast link the download outruns it and the two compete for the cores, so that
// the transfer slows down and, at its end, most of the package is still to be unpacked by that one
// thread. Then it is better to stop staging (keeping what was staged) and extract the rest after
// the download, on every core. The stager stops when it is well behind and the download brings
// bytes clearly faster (twice) than the stager unpacks them on large entries (its own pace, waits
// for bytes left out): then it can only fall further behind. Its pace in bytes on small files says
// little (each file costs a create and a rename), and on a link it keeps up with, it falls behind
// on a run of small files and catches up on the large ones after them. Once the download is
// complete, the stager stops when much is still to unpack, and a little rest it unpacks itself.
// Asked between entries, never inside one: an entry begun is finished, so no work is thrown away.
// Staging thread.
#pragma once

#include <cstdint>

struct StagingPace {
  double seconds = 0;     // since the stager first found bytes in the package file
  uint64_t unpacked = 0;  // package bytes the stager has gone through (its offset in the file)
  uint64_t arrived = 0;   // package bytes the download wrote in those seconds
  uint64_t inFile = 0;    // package bytes in the file now
  int64_t toCome = 0;     // package bytes still to download; 0 or less while not known
  // The stager's own pace: stored bytes of large entries unpacked, and the seconds it spent on
  // them, without the waits for their bytes.
  uint64_t measuredBytes = 0;
  double measuredSeconds = 0;
  bool ended = false;  // the download is complete: nothing more will come
};

// True when the staging should end so that the rest of the package is extracted after its download.
bool DownloadOutpacesStaging(const StagingPace& pace);
