// The closing launcher's wait for a running extraction: it ends when the extraction stops, and
// after its limit when one never does.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "core/UpdateState.h"

namespace {

using namespace std::chrono_literals;

TEST(UpdateStateTest, TheWaitForAnExtractionIsBounded) {
  struct Case {
    const char* name;
    bool extracting;
    std::chrono::milliseconds endsAfter;  // when the extraction stops; 0: never
    bool expected;
    std::chrono::milliseconds least, most;  // the wait's length
  };
  const Case cases[] = {
      {"nothing running", false, 0ms, true, 0ms, 200ms},
      {"stops at its next block", true, 100ms, true, 90ms, 1000ms},
      {"never stops (a hung disk)", true, 0ms, false, 300ms, 1500ms},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UpdateState state;
    if (c.extracting) {
      ASSERT_TRUE(state.BeginExtraction());
    }
    std::thread extraction([&] {
      if (c.extracting && c.endsAfter > 0ms) {
        std::this_thread::sleep_for(c.endsAfter);
        state.EndExtraction();
      }
    });
    state.RequestCancel();
    EXPECT_FALSE(state.BeginExtraction()) << "an extraction started after the close";
    const auto start = std::chrono::steady_clock::now();
    auto waited = std::async(std::launch::async, [&] { return state.WaitWhileExtracting(300ms); });
    const bool ended = waited.wait_for(5s) == std::future_status::ready;
    const auto took = std::chrono::steady_clock::now() - start;
    extraction.join();
    if (!ended) {
      state.EndExtraction();  // lets the unbounded wait go, so the test can report it
      ADD_FAILURE() << "the wait did not end";
      continue;
    }
    EXPECT_EQ(waited.get(), c.expected);
    EXPECT_GE(took, c.least);
    EXPECT_LE(took, c.most);
  }
}

}  // namespace
