// A launcher killed at random moments of a download resumes on its next run without losing or
// duplicating a byte, and its resume state never claims bytes the package lacks.
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <csignal>
#include <random>
#include <thread>

#include "UpdateTestSupport.h"
#include "update/CGameRemoteConfig.h"

extern char** environ;

namespace {

int64_t FileSize(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

class DownloadKillTest : public UpdateTest {
 protected:
  pid_t StartChild(const std::string& configUrl) {
    std::string exe = UPDATE_CHILD_PATH, install = InstallDir(), data = DataDir();
    char* argv[] = {exe.data(), install.data(), data.data(), const_cast<char*>(configUrl.c_str()), nullptr};
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, exe.c_str(), nullptr, nullptr, argv, environ), 0);
    return pid;
  }

  // The state file's offset must be backed by the file, byte for byte.
  void CheckStateAgainstPackage(const std::string& served) {
    std::string state = Sandbox::ReadFile(StatePath());
    if (state.empty()) return;
    size_t at = state.find("offset=");
    ASSERT_NE(at, std::string::npos) << state;
    long long offset = std::stoll(state.substr(at + 7));
    std::string onDisk = Sandbox::ReadFile(PackagePath());
    EXPECT_LE(offset, static_cast<long long>(onDisk.size())) << state;
    if (offset > 0 && offset <= static_cast<long long>(onDisk.size())) {
      EXPECT_EQ(onDisk.compare(0, static_cast<size_t>(offset), served, 0, static_cast<size_t>(offset)), 0);
    }
  }
};

TEST_F(DownloadKillTest, KilledDownloadsResumeToAnIdenticalPackage) {
  TestServer server;
  // Not a zip, so the finished package is left in place for the comparison.
  const std::string package = RandomBytes(6 * 1024 * 1024, 2024);
  // About 3 MB/s: long enough to be killed several times in the middle.
  server.ServePackage("/harlu7/1.0.3.7/p.zip", package, false, 32 * 1024, std::chrono::milliseconds(10));
  const std::string wide = server.Url("/{ditch_name}/{version}/p.zip");
  ServeConfig(server, "ClientVersion=1.0.3.7\nClientMiniUpdateVersion=1.0.0.5\nClientDownloadUrl=" + wide +
                          "\nClient32DownloadUrl=" + wide + "\n");

  std::random_device seedSource;
  const unsigned seed = seedSource();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  // Counted from the moment the child's package grows, so that a slow start does not turn the
  // kills into kills before any download.
  std::uniform_int_distribution<int> killAfterMs(60, 300);

  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const int64_t before = FileSize(PackagePath());
    pid_t child = StartChild(server.Url("/config"));
    ASSERT_GT(child, 0);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (FileSize(PackagePath()) <= before && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    std::this_thread::sleep_for(std::chrono::milliseconds(killAfterMs(random)));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    CheckStateAgainstPackage(package);
  }

  pid_t child = StartChild(server.Url("/config"));
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);

  EXPECT_EQ(Sha256Hex(Sandbox::ReadFile(PackagePath())), Sha256Hex(package));
  CheckStateAgainstPackage(package);

  // The runs after a kill really resumed instead of starting over.
  int resumed = 0;
  for (const auto& range : server.PackageRanges())
    if (range.rfind("bytes=", 0) == 0 && range != "bytes=0-") ++resumed;
  EXPECT_GE(resumed, 3);
}

}  // namespace
