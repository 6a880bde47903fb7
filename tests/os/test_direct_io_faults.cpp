// The direct writer and reader on file systems that misbehave: one that refuses direct transfers
// only when they happen (not when the file is opened), and one that answers a direct read with
// fewer bytes than asked in the middle of a file. Every byte still lands, and nothing is taken for
// the file's end before it is there.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "direct_fault_shim.h"
#include "os/DirectReader.h"
#include "os/DirectWriter.h"
#include "support/Sandbox.h"
#include "support/TestPattern.h"

namespace {

using os::DirectReader;
using os::DirectWriter;

constexpr size_t MiB = 1024 * 1024;

// The faults of one case, undone when it ends.
struct Faults {
  Faults(int refuseWith, bool shortReads) {
    direct_fault::refuseWith = refuseWith;
    direct_fault::shortReads = shortReads;
  }
  ~Faults() {
    direct_fault::refuseWith = 0;
    direct_fault::shortReads = false;
  }
};

struct Case {
  const char* what;
  int refuseWith;
  bool shortReads;
  bool staysDirect;
};

// ENOTSUP and EOPNOTSUPP are one value here; both are named so that a system where they differ
// is covered too.
const Case kCases[] = {
    {"a larger block than assumed (EINVAL)", EINVAL, false, false},
    {"no direct I/O at all (EOPNOTSUPP)", EOPNOTSUPP, false, false},
    {"no direct I/O at all (ENOTSUP)", ENOTSUP, false, false},
    {"short direct reads", 0, true, true},
};

TEST(DirectIoFaults, TheReaderReadsEveryByteOfTheStretch) {
  Sandbox box;
  const std::string path = box.Root() + "/source.bin";
  const std::string data = TestPattern(3 * MiB + 4321, 9);
  Sandbox::WriteFile(path, data);
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    std::string got;
    bool failed = true, direct = false;
    {
      Faults faults(c.refuseWith, c.shortReads);
      DirectReader reader(fd, 5, data.size(), DirectReader::Mode::Direct);
      const uint8_t* bytes = nullptr;
      size_t size = 0;
      while (reader.Next(bytes, size)) got.append(reinterpret_cast<const char*>(bytes), size);
      failed = reader.Failed();
      direct = reader.Direct();
    }
    ::close(fd);
    EXPECT_FALSE(failed);
    EXPECT_EQ(got.size(), data.size() - 5);
    EXPECT_TRUE(got == data.substr(5));
    EXPECT_EQ(direct, c.staysDirect);
  }
}

TEST(DirectIoFaults, TheWriterWritesEveryByte) {
  Sandbox box;
  const std::string path = box.Root() + "/target.bin";
  const std::string data = TestPattern(3 * MiB + 4321, 4);
  for (const Case& c : kCases) {
    if (c.refuseWith == 0) continue;  // a write has no short answer that the writer takes for done
    SCOPED_TRACE(c.what);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    bool finished = false, direct = true;
    {
      Faults faults(c.refuseWith, false);
      DirectWriter writer(fd, 0, DirectWriter::Mode::Direct);
      EXPECT_TRUE(writer.Append(data.data(), data.size()));
      finished = writer.Finish();
      direct = writer.Direct();
    }
    ::close(fd);
    EXPECT_TRUE(finished);
    EXPECT_FALSE(direct);
    EXPECT_TRUE(Sandbox::ReadFile(path) == data);
  }
}

// Offsets past 4 GiB mean the same everywhere: the build uses 64-bit file offsets on every
// target, so a 32-bit build reads and writes a large package like a 64-bit one.
TEST(DirectIoFaults, OffsetsPastFourGiBAreExact) {
#if !defined(_FILE_OFFSET_BITS) || _FILE_OFFSET_BITS != 64
  ADD_FAILURE() << "built without 64-bit file offsets";
#endif
  static_assert(sizeof(off_t) == 8);
  Sandbox box;
  const std::string path = box.Root() + "/sparse.bin";
  const uint64_t at = 5ull * 1024 * MiB + 123;
  const std::string data = TestPattern(MiB + 7, 2);
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  {
    DirectWriter writer(fd, at, DirectWriter::Mode::Direct);
    ASSERT_TRUE(writer.Append(data.data(), data.size()));
    ASSERT_TRUE(writer.Finish());
  }
  std::string got;
  {
    DirectReader reader(fd, at, at + data.size(), DirectReader::Mode::Direct);
    const uint8_t* bytes = nullptr;
    size_t size = 0;
    while (reader.Next(bytes, size)) got.append(reinterpret_cast<const char*>(bytes), size);
    EXPECT_FALSE(reader.Failed());
  }
  EXPECT_EQ(::lseek(fd, 0, SEEK_END), static_cast<off_t>(at + data.size()));
  ::close(fd);
  EXPECT_TRUE(got == data);
}

}  // namespace
