// Direct transfers on Windows: the writer and the reader over file handles, past the system's
// cache where the volume takes it, through it otherwise, with unaligned heads and tails.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "WinTestFolder.h"
#include "os/DirectReader.h"
#include "os/DirectWriter.h"
#include "os/File.h"
#include "support/TestPattern.h"

namespace {

constexpr size_t MiB = 1024 * 1024;

std::string ReadAll(const std::string& path) {
  std::string text;
  return os::ReadFile(path, text) ? text : std::string();
}

}  // namespace

TEST(DirectIoWindows, TheWriterAppendsEveryByteInPlace) {
  struct Case {
    const char* name;
    size_t existing;
    std::vector<size_t> pieces;
  };
  const Case cases[] = {
      {"less than a block", 0, {100}},
      {"aligned start, many buffers", 0, {MiB, 3 * MiB + 17, 1}},
      {"unaligned start", 5000, {4095, 1, 2 * MiB + 3}},
      {"unaligned start inside one block", 4097, {10}},
  };
  WinTestFolder dir;
  for (os::DirectWriter::Mode mode : {os::DirectWriter::Mode::Direct, os::DirectWriter::Mode::Buffered}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (mode == os::DirectWriter::Mode::Direct ? " direct" : " buffered"));
      const std::string path = dir / "file.bin";
      const std::string before = TestPattern(c.existing, 7);
      ASSERT_EQ(os::WriteFileAtomically(path, before), 0);
      size_t total = 0;
      for (size_t p : c.pieces) total += p;
      const std::string data = TestPattern(total, 11);
      std::string written;
      {
        os::File file = os::File::Open(path, os::File::Access::ReadWrite);
        ASSERT_TRUE(file.IsOpen());
        os::DirectWriter writer(
            file.Handle(), c.existing, mode,
            {[&](const uint8_t* d, size_t n) { written.append(reinterpret_cast<const char*>(d), n); }, nullptr});
        size_t at = 0;
        for (size_t p : c.pieces) {
          ASSERT_TRUE(writer.Append(data.data() + at, p));
          at += p;
        }
        ASSERT_TRUE(writer.Finish());
        EXPECT_FALSE(writer.Failed());
      }
      EXPECT_TRUE(ReadAll(path) == before + data);
      EXPECT_TRUE(written == data);
    }
  }
}

TEST(DirectIoWindows, TheReaderHandsOverExactlyTheStretchAndFailsOnAShortFile) {
  WinTestFolder dir;
  const std::string path = dir / "source.bin";
  const std::string data = TestPattern(3 * MiB + 4321, 9);
  ASSERT_EQ(os::WriteFileAtomically(path, data), 0);
  struct Case {
    uint64_t begin, end;
    bool fails;
  };
  const Case cases[] = {{0, data.size(), false},
                        {1, data.size() - 1, false},
                        {4095, 4097, false},
                        {MiB - 3, 2 * MiB + 5, false},
                        {100, data.size() + 1, true}};
  for (os::DirectReader::Mode mode : {os::DirectReader::Mode::Direct, os::DirectReader::Mode::Buffered}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::to_string(c.begin) + "-" + std::to_string(c.end));
      os::File file = os::File::Open(path, os::File::Access::Read);
      ASSERT_TRUE(file.IsOpen());
      os::DirectReader reader(file.Handle(), c.begin, c.end, mode);
      std::string got;
      const uint8_t* bytes = nullptr;
      size_t size = 0;
      while (reader.Next(bytes, size)) got.append(reinterpret_cast<const char*>(bytes), size);
      EXPECT_EQ(reader.Failed(), c.fails);
      if (c.fails) {
        EXPECT_TRUE(data.compare(c.begin, got.size(), got) == 0);
      } else {
        EXPECT_TRUE(got == data.substr(c.begin, c.end - c.begin)) << got.size();
      }
    }
  }
}
