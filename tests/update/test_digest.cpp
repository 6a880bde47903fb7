// The digest of a whole file (an old package checked before it is extracted): its value, an
// unreadable file, and a stop between blocks for a closing launcher.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "UpdateTestSupport.h"
#include "update/Sha256Digest.h"

namespace {

TEST(Sha256DigestTest, FileDigestStopsBetweenBlocksWhenAsked) {
  Sandbox box;
  const std::string path = box.Root() + "/package.zip";
  const std::string data = RandomBytes((4 << 20) + 123, 7);  // four whole blocks and a part
  Sandbox::WriteFile(path, data);
  const Sha256Digest::Value untouched{1, 2, 3};

  struct Case {
    const char* name;
    int stopAtAsk;  // the ask (from 1) that first answers true; 0: never
    Sha256Digest::FileResult expected;
    int asks;  // how often it is asked: once before each block, never after a stop
  };
  for (const Case& c : {Case{"never stopped", 0, Sha256Digest::FileResult::Ok, 5},
                        Case{"closing already", 1, Sha256Digest::FileResult::Stopped, 1},
                        Case{"closing after two blocks", 3, Sha256Digest::FileResult::Stopped, 3}}) {
    SCOPED_TRACE(c.name);
    int asks = 0;
    Sha256Digest::Value value = untouched;
    EXPECT_EQ(
        Sha256Digest::OfFile(path, value, [&] { return ++asks == c.stopAtAsk || (c.stopAtAsk && asks > c.stopAtAsk); }),
        c.expected);
    EXPECT_EQ(asks, c.asks);
    if (c.expected == Sha256Digest::FileResult::Ok) {
      EXPECT_EQ(Sha256Digest::Hex(value), Sha256Hex(data));
    } else {
      EXPECT_EQ(value, untouched);
    }
  }

  // The flag of a closing launcher, set from another thread while the digest runs.
  std::atomic<bool> closing{false};
  std::atomic<int> asked{0};
  Sha256Digest::Value value = untouched;
  std::thread closer([&] {
    while (asked < 2) std::this_thread::yield();
    closing = true;
  });
  const auto result = Sha256Digest::OfFile(path, value, [&] {
    ++asked;
    // Holds the digest at its second block until the flag is set, so the stop lands inside it.
    while (asked == 2 && !closing) std::this_thread::yield();
    return closing.load();
  });
  closer.join();
  EXPECT_EQ(result, Sha256Digest::FileResult::Stopped);
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(value, untouched);

  EXPECT_EQ(Sha256Digest::OfFile(box.Root() + "/missing.zip", value), Sha256Digest::FileResult::Unreadable);
}

}  // namespace
