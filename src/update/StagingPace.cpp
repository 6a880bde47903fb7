#include "update/StagingPace.h"

namespace {

// Too early to judge the rates: the first moments of a transfer and of the stager's first files
// say little of what follows.
constexpr double kSampleSeconds = 0.2;
// A stager this close behind the download keeps up with it: it waits for bytes now and then. Its
// rate in bytes is far lower on small files than on large ones (each file costs its own create and
// rename), so on a link it keeps up with it falls behind for a while on a run of small files; an
// eighth of the package, or this much on a small one, is never judged from such a moment.
constexpr uint64_t kBehind = 16 * 1024 * 1024;
constexpr uint64_t kBehindShare = 8;

}  // namespace

bool DownloadOutpacesStaging(const StagingPace& pace) {
  if (pace.seconds < kSampleSeconds || pace.unpacked > pace.inFile) return false;
  const uint64_t toCome = pace.ended ? 0 : pace.toCome > 0 ? static_cast<uint64_t>(pace.toCome) : 0;
  if (toCome == 0 && !pace.ended) return false;  // the package's size is not known yet
  const uint64_t behind = pace.inFile - pace.unpacked;
  if (behind < kBehind || behind < (pace.inFile + toCome) / kBehindShare) return false;
  const double total = static_cast<double>(pace.inFile + toCome);
  double projected = static_cast<double>(pace.unpacked);
  if (toCome > 0) {
    // A download that brought nothing in the sample does not outrun anything.
    if (pace.arrived == 0) return false;
    const double downloadLeft = static_cast<double>(toCome) * pace.seconds / static_cast<double>(pace.arrived);
    projected += static_cast<double>(pace.unpacked) / pace.seconds * downloadLeft;
  }
  return projected < total / 2;
}
