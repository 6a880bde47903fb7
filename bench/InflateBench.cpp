// The package inflater alone: inflates every deflated entry of a zip archive into a reused buffer
// (nothing is written), checks each entry's size and CRC-32, and prints the median time. Built once per
// inflater (vellmora-bench-inflate with the build's choice, vellmora-bench-inflate-zlib with the
// fallback) so that bench/run can compare them on the same archive.
//
//   vellmora-bench-inflate <archive.zip> [repetitions]   -> "<inflater> <seconds> <MiB out> <MiB/s>"
#include <fcntl.h>
#include <minizip/unzip.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "update/Inflater.h"

namespace {

// The extractor's block sizes: stored bytes read in 256 KiB, inflated into 32 KiB.
constexpr size_t kReadBlock = 256 * 1024;
constexpr size_t kOutBlock = 32 * 1024;

// Inflates the entry minizip is positioned on; false on any mismatch. Adds the bytes made to out.
bool InflateEntry(unzFile zip, int fd, Inflater& inflater, uint8_t* in, uint8_t* out, uint64_t& made) {
  unz_file_info64 info;
  if (unzGetCurrentFileInfo64(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) return false;
  if (info.compression_method != Z_DEFLATED) return true;  // stored and directories: nothing to inflate
  int method = 0, level = 0;
  if (unzOpenCurrentFile2(zip, &method, &level, 1) != UNZ_OK) return false;
  uint64_t at = unzGetCurrentFileZStreamPos64(zip);
  unzCloseCurrentFile(zip);

  if (!inflater.Reset()) return false;
  uint64_t left = info.compressed_size, produced = 0;
  Inflater::Buffers b;
  while (true) {
    if (b.inSize == 0 && left > 0) {
      const size_t want = static_cast<size_t>(std::min<uint64_t>(left, kReadBlock));
      if (pread(fd, in, want, static_cast<off_t>(at)) != static_cast<ssize_t>(want)) return false;
      at += want;
      left -= want;
      b.in = in;
      b.inSize = want;
    }
    b.out = out;
    b.outSize = kOutBlock;
    const Inflater::Status status = inflater.Inflate(b);
    produced += kOutBlock - b.outSize;
    if (status == Inflater::Status::Corrupt) return false;
    if (status == Inflater::Status::StreamEnd) break;
    if (b.outSize == kOutBlock && b.inSize == 0 && left == 0) return false;  // cut short
  }
  made += produced;
  return produced == info.uncompressed_size && inflater.Crc() == static_cast<uint32_t>(info.crc);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <archive.zip> [repetitions]\n", argv[0]);
    return 2;
  }
  const int repetitions = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  std::unique_ptr<Inflater> inflater = NewInflater();
  std::unique_ptr<uint8_t[]> in(new uint8_t[kReadBlock]), out(new uint8_t[kOutBlock]);
  std::vector<double> times;
  uint64_t made = 0;
  for (int r = 0; r < repetitions; ++r) {
    unzFile zip = unzOpen64(argv[1]);
    const int fd = open(argv[1], O_RDONLY | O_CLOEXEC);
    if (!zip || fd < 0) {
      std::fprintf(stderr, "cannot open %s\n", argv[1]);
      return 1;
    }
    made = 0;
    const auto start = std::chrono::steady_clock::now();
    int rc = unzGoToFirstFile(zip);
    while (rc == UNZ_OK) {
      if (!InflateEntry(zip, fd, *inflater, in.get(), out.get(), made)) {
        std::fprintf(stderr, "%s: an entry does not inflate to its size and CRC-32\n", inflater->Name());
        return 1;
      }
      rc = unzGoToNextFile(zip);
    }
    times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    close(fd);
    unzClose(zip);
  }
  std::sort(times.begin(), times.end());
  const double median = times[times.size() / 2];
  const double mib = static_cast<double>(made) / 1048576.0;
  std::printf("%s %.2f %.0f %.0f\n", inflater->Name(), median, mib, mib / median);
  return 0;
}
