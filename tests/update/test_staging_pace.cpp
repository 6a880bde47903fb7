// When the stager stops so that the rest of the package is extracted after its download on every
// core: a download faster than the stager's own pace while it is well behind, and the cases where
// staging still pays or nothing can be told yet.
#include <gtest/gtest.h>

#include "update/StagingPace.h"

namespace {

constexpr uint64_t kMiB = 1024 * 1024;
constexpr uint64_t kClient = 489807003;  // the size of a client-shaped package

TEST(StagingPaceTest, GivesUpOnlyWhenTheDownloadOutrunsTheStagersOwnPace) {
  struct Case {
    const char* name;
    StagingPace pace;
    bool givesUp;
  };
  const Case cases[] = {
      // 680 MB/s arriving, the stager unpacks 150 MB/s of large entries and is 130 MiB behind.
      {"loopback: the download far ahead", {0.25, 40 * kMiB, 170 * kMiB, 170 * kMiB, 300 * kMiB, 30 * kMiB, 0.2}, true},
      {"a download just over twice the stager's pace",
       {1.0, 40 * kMiB, 201 * kMiB, 201 * kMiB, 300 * kMiB, 100 * kMiB, 1.0},
       true},
      // The stager's pace swings with the machine's load: a download less than twice as fast may
      // be one it keeps up with.
      {"a download just under twice the stager's pace",
       {1.0, 40 * kMiB, 199 * kMiB, 199 * kMiB, 300 * kMiB, 100 * kMiB, 1.0},
       false},
      {"a link the stager keeps up with", {1.0, 55 * kMiB, 57 * kMiB, 57 * kMiB, 410 * kMiB, 20 * kMiB, 0.15}, false},
      // At 60 MB/s on a busy disk: after the package's thousands of small files the stager is an
      // eighth of it behind, and unpacks large entries more than twice as fast as they arrive.
      {"a link, the stager behind after small files",
       {1.3, 17729340, 79740928, 79740928, kClient - 79740928, 8 * kMiB, 0.06},
       false},
      {"a link, the stager less behind after small files",
       {0.4, 8793456, 26820608, 26820608, kClient - 26820608, 0, 0},
       false},
      {"the stager's own pace not known yet",
       {0.5, 8 * kMiB, 200 * kMiB, 200 * kMiB, 270 * kMiB, 1 * kMiB, 0.01},
       false},
      {"too early to tell", {0.1, 5 * kMiB, 100 * kMiB, 100 * kMiB, 400 * kMiB, 5 * kMiB, 0.05}, false},
      {"the package's size not known yet", {1.0, 10 * kMiB, 200 * kMiB, 200 * kMiB, 0, 10 * kMiB, 0.1}, false},
      // Complete: much still to unpack goes faster on every core; a little rest the stager unpacks.
      {"the download complete, much still to stage", {1.0, 100 * kMiB, 470 * kMiB, 470 * kMiB, 0, 0, 0, true}, true},
      {"the download complete, little still to stage", {0.1, 460 * kMiB, 470 * kMiB, 470 * kMiB, 0, 0, 0, true}, false},
      {"the download stalled", {0.5, 20 * kMiB, 0, 200 * kMiB, 300 * kMiB, 20 * kMiB, 0.1}, false},
      // The file held 300 MiB from an earlier run: the stager goes through them while little arrives.
      {"a resumed download", {0.5, 150 * kMiB, 20 * kMiB, 320 * kMiB, 150 * kMiB, 150 * kMiB, 0.4}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DownloadOutpacesStaging(c.pace), c.givesUp);
  }
}

}  // namespace
