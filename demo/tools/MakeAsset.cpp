// vellmora-demo-asset <file> <bytes>: writes filler data standing in for game assets. The bytes
// are deterministic and about half compressible (each 4 KiB block: pseudo-random half, then a
// repeated pattern), so zip packages behave like real ones.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: vellmora-demo-asset <file> <bytes>\n");
    return 2;
  }
  char* end = nullptr;
  long long total = std::strtoll(argv[2], &end, 10);
  if (end == argv[2] || *end || total < 0) {
    std::fprintf(stderr, "vellmora-demo-asset: bad size %s\n", argv[2]);
    return 2;
  }
  std::FILE* f = std::fopen(argv[1], "wb");
  if (!f) {
    std::perror(argv[1]);
    return 1;
  }
  std::uint64_t state = 0x9E3779B97F4A7C15ull;
  std::vector<unsigned char> block(4096);
  bool ok = true;
  for (long long written = 0; written < total && ok;) {
    for (size_t i = 0; i < block.size() / 2; ++i) {
      state ^= state << 13;
      state ^= state >> 7;
      state ^= state << 17;
      block[i] = static_cast<unsigned char>(state);
    }
    for (size_t i = block.size() / 2; i < block.size(); ++i) block[i] = static_cast<unsigned char>("VELLMORA"[i % 8]);
    size_t n = static_cast<size_t>(std::min<long long>(total - written, static_cast<long long>(block.size())));
    ok = std::fwrite(block.data(), 1, n, f) == n;
    written += static_cast<long long>(n);
  }
  ok = std::fclose(f) == 0 && ok;
  if (!ok) std::perror(argv[1]);
  return ok ? 0 : 1;
}
