// When the stager gives up so that the package is extracted after its download on every core: a
// download far faster than the staging, and the cases where staging still pays or nothing can be
// told yet.
#include <gtest/gtest.h>

#include "update/StagingPace.h"

namespace {

constexpr uint64_t kMiB = 1024 * 1024;

TEST(StagingPaceTest, GivesUpOnlyWhenTheDownloadLeavesMostOfThePackageUnstaged) {
  struct Case {
    const char* name;
    StagingPace pace;
    bool givesUp;
  };
  const Case cases[] = {
      // 170 MiB arrived in 0.25 s, 300 to come: the download ends in 0.44 s, by then about 110 of
      // 470 MiB are staged.
      {"loopback: the download far ahead", {0.25, 40 * kMiB, 170 * kMiB, 170 * kMiB, 300 * kMiB, false}, true},
      {"a link the stager keeps up with", {1.0, 55 * kMiB, 57 * kMiB, 57 * kMiB, 410 * kMiB, false}, false},
      // 20 MiB behind for a moment on a busy machine, still well past half by the download's end.
      {"a link, the stager behind for a while", {2.0, 94 * kMiB, 114 * kMiB, 114 * kMiB, 353 * kMiB, false}, false},
      // At 60 MB/s, 0.4 s in: the stager is 18 MB behind after the package's thousands of small
      // files, and catches up on the large ones after them.
      {"a link, the stager slow on small files",
       {0.4, 8793456, 26820608, 26820608, 489807003 - 26820608, false},
       false},
      {"too early to tell", {0.1, 5 * kMiB, 100 * kMiB, 100 * kMiB, 400 * kMiB, false}, false},
      {"the package's size not known yet", {1.0, 10 * kMiB, 200 * kMiB, 200 * kMiB, 0, false}, false},
      {"the download ended, most still to stage", {1.0, 100 * kMiB, 470 * kMiB, 470 * kMiB, 0, true}, true},
      {"the download ended, most staged", {2.0, 300 * kMiB, 470 * kMiB, 470 * kMiB, 0, true}, false},
      {"the download stalled", {0.5, 20 * kMiB, 0, 200 * kMiB, 300 * kMiB, false}, false},
      // The file held 300 MiB from an earlier run: the stager goes through them while little arrives.
      {"a resumed download", {0.5, 150 * kMiB, 20 * kMiB, 320 * kMiB, 150 * kMiB, false}, false},
      {"a small package far behind", {1.0, 1 * kMiB, 9 * kMiB, 9 * kMiB, 0, true}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DownloadOutpacesStaging(c.pace), c.givesUp);
  }
}

}  // namespace
