// The archive's block cache as minizip drives it: seeks, reads across and between blocks, the end.
#include <gtest/gtest.h>
#include <minizip/ioapi.h>

#include <algorithm>
#include <string>

#include "support/Sandbox.h"
#include "update/ArchiveInput.h"

namespace {

struct ArchiveInputTest : ::testing::Test {
  void SetUp() override {
    for (size_t i = 0; i < 200 * 1024 + 7; ++i) bytes.push_back(static_cast<char>(i * 7 % 251));
    path = box.Root() + "/archive.bin";
    Sandbox::WriteFile(path, bytes);
    SetCachedArchiveInput(io);
  }
  std::string ReadAt(voidpf stream, uint64_t offset, unsigned long size) {
    EXPECT_EQ(io.zseek64_file(io.opaque, stream, offset, ZLIB_FILEFUNC_SEEK_SET), 0);
    std::string out(size, '\0');
    out.resize(io.zread_file(io.opaque, stream, out.data(), size));
    return out;
  }
  Sandbox box;
  std::string bytes;
  std::string path;
  zlib_filefunc64_def io{};
};

TEST_F(ArchiveInputTest, ReadsGiveTheFilesBytesWhereverTheyFall) {
  voidpf stream = io.zopen64_file(io.opaque, path.c_str(), ZLIB_FILEFUNC_MODE_READ | ZLIB_FILEFUNC_MODE_EXISTING);
  ASSERT_NE(stream, nullptr);
  struct Case {
    uint64_t offset;
    unsigned long size;
  };
  // Inside a block, across one and two block edges, far apart (more blocks than are kept), back
  // again, and over the end of the file.
  const Case cases[] = {{10, 100},       {65530, 20},   {60000, 140000}, {190000, 500}, {3, 5},
                        {131072 - 1, 2}, {204800, 100}, {204807, 10},    {0, 1}};
  for (const Case& c : cases) {
    const uint64_t end = std::min<uint64_t>(c.offset + c.size, bytes.size());
    EXPECT_TRUE(ReadAt(stream, c.offset, c.size) == bytes.substr(c.offset, end - c.offset)) << c.offset;
  }
  // Relative and end seeks, and the position that follows a read.
  ASSERT_EQ(io.zseek64_file(io.opaque, stream, 100, ZLIB_FILEFUNC_SEEK_SET), 0);
  ASSERT_EQ(io.zseek64_file(io.opaque, stream, 65536, ZLIB_FILEFUNC_SEEK_CUR), 0);
  char two[2];
  ASSERT_EQ(io.zread_file(io.opaque, stream, two, 2), 2u);
  EXPECT_EQ(std::string(two, 2), bytes.substr(65636, 2));
  EXPECT_EQ(io.ztell64_file(io.opaque, stream), 65638u);
  ASSERT_EQ(io.zseek64_file(io.opaque, stream, 0, ZLIB_FILEFUNC_SEEK_END), 0);
  EXPECT_EQ(io.ztell64_file(io.opaque, stream), bytes.size());
  EXPECT_EQ(io.zerror_file(io.opaque, stream), 0);
  EXPECT_EQ(io.zclose_file(io.opaque, stream), 0);
}

TEST_F(ArchiveInputTest, MissingFilesAndWritingAreRefused) {
  EXPECT_EQ(io.zopen64_file(io.opaque, (box.Root() + "/missing.zip").c_str(), ZLIB_FILEFUNC_MODE_READ), nullptr);
  EXPECT_EQ(io.zopen64_file(io.opaque, path.c_str(), ZLIB_FILEFUNC_MODE_WRITE | ZLIB_FILEFUNC_MODE_CREATE), nullptr);
}

}  // namespace
