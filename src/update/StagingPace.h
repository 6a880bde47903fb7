// Whether unpacking the package while it downloads still pays. The stager inflates and writes on
// one thread; on a fast link the download outruns it and the two compete for the cores, so that
// the transfer slows down and, at its end, most of the package is still to be unpacked by that one
// thread. Then it is better to stop staging and extract the whole package after the download, on
// every core. From the rates seen so far (the download's and the stager's) the rule projects how
// much of the package the stager will have unpacked when the download ends, and gives up when that
// is less than half. A stager that keeps up (it waits for bytes), or is behind by less than an
// eighth of the package, never gives up. Staging thread.
#pragma once

#include <cstdint>

struct StagingPace {
  double seconds = 0;     // since the stager first found bytes in the package file
  uint64_t unpacked = 0;  // package bytes the stager has gone through (its offset in the file)
  uint64_t arrived = 0;   // package bytes the download wrote in those seconds
  uint64_t inFile = 0;    // package bytes in the file now
  int64_t toCome = 0;     // package bytes still to download; 0 or less while not known
  bool ended = false;     // the download has ended: nothing more will come
};

// True when the staging should end so that the package is extracted after its download instead.
bool DownloadOutpacesStaging(const StagingPace& pace);
