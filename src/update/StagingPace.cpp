#include "update/StagingPace.h"

namespace {

// Too early to judge the rates: the first moments of a transfer and of the stager's first files
// say little of what follows.
constexpr double kSampleSeconds = 0.2;
// A stager this close behind the download keeps up with it: it waits for bytes now and then.
constexpr uint64_t kBehind = 16 * 1024 * 1024;

}  // namespace

bool DownloadOutpacesStaging(const StagingPace& pace) {
  if (pace.seconds < kSampleSeconds || pace.unpacked > pace.inFile) return false;
  if (pace.inFile - pace.unpacked < kBehind) return false;
  const uint64_t toCome = pace.ended ? 0 : pace.toCome > 0 ? static_cast<uint64_t>(pace.toCome) : 0;
  if (toCome == 0 && !pace.ended) return false;  // the package's size is not known yet
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
