// The direct writer and reader: every byte where it belongs whatever the offsets, piece sizes and
// flushes, in both modes; failures reported, not swallowed.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "os/DirectReader.h"
#include "os/DirectWriter.h"
#include "support/Sandbox.h"
#include "support/TestPattern.h"

using os::DirectReader;
using os::DirectWriter;

namespace {

constexpr size_t MiB = 1024 * 1024;

// A descriptor for the test's lifetime.
class Descriptor {
 public:
  Descriptor(const std::string& path, int flags) : fd_(::open(path.c_str(), flags | O_CLOEXEC, 0644)) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int Get() const { return fd_; }

 private:
  int fd_;
};

TEST(DirectWriter, AppendsEveryByteInPlaceAndShowsItToBothHooksInOrder) {
  struct Case {
    const char* name;
    size_t existing;             // bytes already in the file: the writer appends after them
    std::vector<size_t> pieces;  // handed over one after the other
    bool flushEach;              // a slow producer: each piece handed over at once
  };
  const Case cases[] = {
      {"empty", 0, {}, false},
      {"less than a block", 0, {100}, false},
      {"aligned start, many buffers", 0, {MiB, 3 * MiB + 17, 1}, false},
      {"unaligned start", 5000, {4095, 1, 2 * MiB + 3}, false},
      {"unaligned start inside one block", 4097, {10}, false},
      {"aligned start after a file", 8192, {MiB - 8192, 4096}, false},
      {"flushed pieces", 3, {1, 4093, 4096, 5000, MiB, 7}, true},
  };
  Sandbox box;
  for (DirectWriter::Mode mode : {DirectWriter::Mode::Direct, DirectWriter::Mode::Buffered}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (mode == DirectWriter::Mode::Direct ? " direct" : " buffered"));
      const std::string path = box.Root() + "/file.bin";
      const std::string before = TestPattern(c.existing, 7);
      Sandbox::WriteFile(path, before);
      size_t total = 0;
      for (size_t p : c.pieces) total += p;
      const std::string data = TestPattern(total, 11);

      const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
      ASSERT_GE(fd, 0);
      std::string written;
      std::string inspected;
      {
        DirectWriter writer(
            fd, c.existing, mode,
            {[&](const uint8_t* d, size_t n) { written.append(reinterpret_cast<const char*>(d), n); },
             [&](const uint8_t* d, size_t n) { inspected.append(reinterpret_cast<const char*>(d), n); }});
        size_t at = 0;
        for (size_t p : c.pieces) {
          ASSERT_TRUE(writer.Append(data.data() + at, p));
          at += p;
          if (c.flushEach) {
            ASSERT_TRUE(writer.Flush());
          }
        }
        ASSERT_TRUE(writer.Finish());
        EXPECT_FALSE(writer.Failed());
      }
      ::close(fd);
      EXPECT_TRUE(Sandbox::ReadFile(path) == before + data);
      EXPECT_TRUE(written == data);
      EXPECT_TRUE(inspected == data);
    }
  }
}

TEST(DirectWriter, InflatingStraightIntoItsRoomLandsInOrder) {
  Sandbox box;
  const std::string path = box.Root() + "/room.bin";
  const std::string data = TestPattern(3 * MiB + 123, 5);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  DirectWriter writer(fd, 0, DirectWriter::Mode::Direct);
  size_t at = 0;
  while (at < data.size()) {
    size_t room = 0;
    uint8_t* to = writer.Room(room);
    ASSERT_NE(to, nullptr);
    ASSERT_GT(room, 0u);
    // Less than the room, as an inflater that ran out of input would leave it.
    const size_t n = std::min({room, data.size() - at, static_cast<size_t>(300000)});
    std::copy(data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(at + n), to);
    ASSERT_TRUE(writer.Commit(n));
    at += n;
  }
  EXPECT_FALSE(writer.Commit(4 * MiB)) << "more than the room";
  ASSERT_TRUE(writer.Finish());
  ::close(fd);
  EXPECT_TRUE(Sandbox::ReadFile(path) == data);
}

// The writer writes the file it was given: a path that names another file by now (a swapped
// link, a replaced file) gets nothing.
TEST(DirectWriter, WritesTheFileItWasGivenEvenWhenItsPathNowNamesAnother) {
  Sandbox box;
  const std::string path = box.Root() + "/given.bin";
  const std::string moved = box.Root() + "/moved.bin";
  Descriptor file(path, O_WRONLY | O_CREAT | O_TRUNC);
  ASSERT_GE(file.Get(), 0);
  ASSERT_EQ(::rename(path.c_str(), moved.c_str()), 0);
  Sandbox::WriteFile(path, "another file");
  const std::string data = TestPattern(2 * MiB + 5, 8);
  DirectWriter writer(file.Get(), 0, DirectWriter::Mode::Direct);
  ASSERT_TRUE(writer.Append(data.data(), data.size()));
  ASSERT_TRUE(writer.Finish());
  EXPECT_TRUE(Sandbox::ReadFile(moved) == data);
  EXPECT_EQ(Sandbox::ReadFile(path), "another file");
}

// A device that takes nothing: the failure and its errno come back, and nothing is written after it.
TEST(DirectWriter, AFailedWriteIsReported) {
  for (DirectWriter::Mode mode : {DirectWriter::Mode::Direct, DirectWriter::Mode::Buffered}) {
    const int fd = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    size_t written = 0;
    DirectWriter writer(fd, 0, mode, {[&](const uint8_t*, size_t n) { written += n; }, nullptr});
    const std::string data = TestPattern(5 * MiB, 3);
    bool accepted = true;
    for (size_t at = 0; at < data.size() && accepted; at += 64 * 1024)
      accepted = writer.Append(data.data() + at, 64 * 1024);
    EXPECT_FALSE(writer.Finish());
    EXPECT_TRUE(writer.Failed());
    EXPECT_EQ(writer.Error(), ENOSPC);
    EXPECT_EQ(written, 0u);
    size_t room = 0;
    EXPECT_EQ(writer.Room(room), nullptr);
    ::close(fd);
  }
}

TEST(DirectReader, HandsOverExactlyTheStretchInOrder) {
  Sandbox box;
  const std::string path = box.Root() + "/source.bin";
  const std::string data = TestPattern(4 * MiB + 4321, 9);
  Sandbox::WriteFile(path, data);
  struct Case {
    uint64_t begin, end;
  };
  const Case cases[] = {
      {0, data.size()}, {1, data.size() - 1}, {4095, 4097}, {5000, 5000}, {MiB - 3, 3 * MiB + 5}, {4096, 2 * MiB},
  };
  for (DirectReader::Mode mode : {DirectReader::Mode::Direct, DirectReader::Mode::Buffered}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::to_string(c.begin) + "-" + std::to_string(c.end) +
                   (mode == DirectReader::Mode::Direct ? " direct" : " buffered"));
      Descriptor file(path, O_RDONLY);
      DirectReader reader(file.Get(), c.begin, c.end, mode);
      std::string got;
      const uint8_t* bytes = nullptr;
      size_t size = 0;
      while (reader.Next(bytes, size)) got.append(reinterpret_cast<const char*>(bytes), size);
      EXPECT_FALSE(reader.Failed());
      EXPECT_TRUE(got == data.substr(c.begin, c.end - c.begin)) << got.size();
    }
  }
}

// A file that ends inside the stretch: the bytes there are handed over, then the failure.
TEST(DirectReader, AFileThatEndsTooSoonFails) {
  Sandbox box;
  const std::string path = box.Root() + "/cut.bin";
  const std::string data = TestPattern(3 * MiB + 10, 4);
  Sandbox::WriteFile(path, data);
  for (DirectReader::Mode mode : {DirectReader::Mode::Direct, DirectReader::Mode::Buffered}) {
    Descriptor file(path, O_RDONLY);
    DirectReader reader(file.Get(), 100, data.size() + 1, mode);
    std::string got;
    const uint8_t* bytes = nullptr;
    size_t size = 0;
    while (reader.Next(bytes, size)) got.append(reinterpret_cast<const char*>(bytes), size);
    EXPECT_TRUE(reader.Failed());
    EXPECT_TRUE(data.compare(100, got.size(), got) == 0);
  }
  DirectReader missing(-1, 0, 10, DirectReader::Mode::Direct);  // no file at all
  const uint8_t* bytes = nullptr;
  size_t size = 0;
  EXPECT_FALSE(missing.Next(bytes, size));
  EXPECT_TRUE(missing.Failed());
}

// Leaving early (a stop) ends the reader without reading the rest.
TEST(DirectReader, CanBeLeftEarly) {
  Sandbox box;
  const std::string path = box.Root() + "/early.bin";
  Sandbox::WriteFile(path, TestPattern(8 * MiB, 2));
  Descriptor file(path, O_RDONLY);
  DirectReader reader(file.Get(), 0, 8 * MiB, DirectReader::Mode::Direct);
  const uint8_t* bytes = nullptr;
  size_t size = 0;
  ASSERT_TRUE(reader.Next(bytes, size));
  EXPECT_GT(size, 0u);
}

}  // namespace
