// What making an extracted client durable costs, two ways: one fsync per file (and per folder)
// against one syncfs of the client's file system. Each repetition writes the same fresh tree into
// the page cache, then makes it durable one way, timed; the two ways alternate.
//
//   vellmora-bench-durability <dir> <large|many> [repetitions]
//     large: one 1 GiB file (the benchmark package's entry); many: 5,000 files of 0.5 KiB to
//     512 KiB in 50 folders (about 300 MiB, a client's small files)
//   -> "<tree> fsync-each <median s> syncfs <median s>"
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Tree {
  std::vector<std::string> folders;
  std::vector<std::pair<std::string, size_t>> files;
};

Tree Shape(const std::string& root, bool many) {
  Tree tree;
  if (!many) {
    tree.files.push_back({root + "/big.bin", size_t{1} << 30});
    return tree;
  }
  unsigned seed = 7;
  for (int f = 0; f < 50; ++f) tree.folders.push_back(root + "/d" + std::to_string(f));
  for (int i = 0; i < 5000; ++i) {
    seed = seed * 1103515245u + 12345u;
    const size_t size = i < 4000 ? 512 + seed % (8 * 1024) : 32 * 1024 + seed % (480 * 1024);
    tree.files.push_back({tree.folders[i % 50] + "/f" + std::to_string(i), size});
  }
  return tree;
}

bool Write(const std::string& root, const Tree& tree, const std::vector<char>& data) {
  if (std::system(("rm -rf '" + root + "' && mkdir -p '" + root + "'").c_str()) != 0) return false;
  for (const auto& folder : tree.folders) mkdir(folder.c_str(), 0755);
  for (const auto& [path, size] : tree.files) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    for (size_t done = 0; done < size;) {
      const size_t n = std::min(size - done, data.size());
      if (write(fd, data.data(), n) != static_cast<ssize_t>(n)) return false;
      done += n;
    }
    close(fd);
  }
  return true;
}

bool SyncEach(const std::string& root, const Tree& tree) {
  for (const auto& [path, size] : tree.files) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || fsync(fd) != 0) return false;
    close(fd);
  }
  std::vector<std::string> folders = tree.folders;
  folders.push_back(root);
  for (const auto& folder : folders) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || fsync(fd) != 0) return false;
    close(fd);
  }
  return true;
}

bool SyncAll(const std::string& root) {
  const int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const bool ok = fd >= 0 && syncfs(fd) == 0;
  if (fd >= 0) close(fd);
  return ok;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <dir> <large|many> [repetitions]\n", argv[0]);
    return 2;
  }
  const std::string root = std::string(argv[1]) + "/durability-tree";
  const bool many = std::string(argv[2]) == "many";
  const int reps = argc > 3 ? std::atoi(argv[3]) : 3;
  const Tree tree = Shape(root, many);
  std::vector<char> data(1 << 20);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 2654435761u) >> 13);

  std::vector<double> each, all;
  for (int r = 0; r < reps * 2; ++r) {
    if (!Write(root, tree, data)) return 1;
    const bool perFile = (r % 2 == 0) == (r / 2 % 2 == 0);  // alternate which way goes first
    const auto start = std::chrono::steady_clock::now();
    if (!(perFile ? SyncEach(root, tree) : SyncAll(root))) return 1;
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    (perFile ? each : all).push_back(s);
  }
  std::system(("rm -rf '" + root + "'").c_str());
  std::printf("%s fsync-each %.3f syncfs %.3f\n", many ? "many" : "large", Median(each), Median(all));
  return 0;
}
