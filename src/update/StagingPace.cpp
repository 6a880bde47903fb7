#include "update/StagingPace.h"

namespace {

// Too early to judge the rates: the first moments of a transfer say little of what follows.
constexpr double kSampleSeconds = 0.2;
// A stager this close behind the download keeps up with it, or falls behind only for a while on
// a run of small files: an eighth of the package, or this much on a small one.
constexpr uint64_t kBehind = 16 * 1024 * 1024;
constexpr uint64_t kBehindShare = 8;
// The stager's own pace is known once it has unpacked this much of large entries.
constexpr uint64_t kMeasured = 4 * 1024 * 1024;
// Its pace swings with the load of the machine and the disk (it shares them with the download):
// only a download this many times faster is taken to outrun it. A stager kept on by mistake stops
// anyway when the download ends.
constexpr double kOutrun = 2.0;

}  // namespace

bool DownloadOutpacesStaging(const StagingPace& pace) {
  if (pace.unpacked > pace.inFile) return false;
  if (pace.ended) return pace.inFile - pace.unpacked >= kBehind;
  if (pace.seconds < kSampleSeconds) return false;
  if (pace.toCome <= 0) return false;  // the package's size is not known yet
  const uint64_t total = pace.inFile + static_cast<uint64_t>(pace.toCome);
  const uint64_t behind = pace.inFile - pace.unpacked;
  if (behind < kBehind || behind < total / kBehindShare) return false;
  if (pace.measuredBytes < kMeasured || pace.measuredSeconds <= 0) return false;
  const double downloadRate = static_cast<double>(pace.arrived) / pace.seconds;
  const double stagingRate = static_cast<double>(pace.measuredBytes) / pace.measuredSeconds;
  return downloadRate > kOutrun * stagingRate;
}
