// The sync thread beside an extraction: a sync once enough bytes were written, none before, and
// an end that does not wait for bytes still below the mark.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "support/Sandbox.h"
#include "update/BackgroundSync.h"

namespace {

TEST(BackgroundSyncTest, SyncsEachTimeEnoughWasWrittenAndEndsWithoutWaitingForMore) {
  Sandbox sandbox;
  BackgroundSync sync(sandbox.Root(), 100);
  sync.Written(60);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(sync.Syncs(), 0u) << "60 of 100 bytes";
  sync.Written(60);  // from two writers' parts
  for (int i = 0; i < 500 && sync.Syncs() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(sync.Syncs(), 1u);
  sync.Written(99);  // left to the caller's own sync: the end does not wait for it
}

}  // namespace
