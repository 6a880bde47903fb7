// A launcher killed at random moments of a download resumes on its next run without losing or
// duplicating a byte, and its resume state never claims bytes the package lacks. One killed while
// it unpacks the package beside the client, or while it moves the unpacked files in, installs the
// whole client on a later run.
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <csignal>
#include <random>
#include <thread>

#include "UpdateTestSupport.h"
#include "os/FileSystem.h"
#include "update/CGameRemoteConfig.h"

extern char** environ;

namespace {

int64_t FileSize(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

class DownloadKillTest : public UpdateTest {
 protected:
  // moment: where the child kills itself (download_child.cpp), empty for a run to its end.
  pid_t StartChild(const std::string& configUrl, std::string moment = "") {
    std::string exe = UPDATE_CHILD_PATH, install = InstallDir(), data = DataDir();
    char* argv[] = {exe.data(),
                    install.data(),
                    data.data(),
                    const_cast<char*>(configUrl.c_str()),
                    moment.empty() ? nullptr : moment.data(),
                    nullptr};
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

// Killed while the download is unpacked beside the client, the next run resumes the download and
// unpacks the part on disk again; killed while the unpacked files are moved into the client, the
// next run extracts the complete package without downloading it. No run shows the client a file
// of a package that was not complete and checked, nor records a version before the whole client
// is in place.
TEST_F(DownloadKillTest, KilledWhileStagingOrMovingInstallsTheWholeClientLater) {
  std::vector<ZipEntry> entries;
  for (int i = 0; i < 40; ++i) entries.push_back({"part" + std::to_string(i) + ".bin", RandomBytes(50000, i + 1), 0});
  entries.push_back({"readme.txt", "the new client", 0});
  const std::string package = BuildZip(entries);
  TestServer server;
  // About 3 MB/s: the download runs long enough to be killed halfway.
  server.ServePackage("/harlu7/1.0.3.7/p.zip", package, false, 32 * 1024, std::chrono::milliseconds(10));
  const std::string url = server.Url("/{ditch_name}/{version}/p.zip");
  ServeConfig(server, "ClientVersion=1.0.3.7\nClientMiniUpdateVersion=1.0.0.5\nClientDownloadUrl=" + url +
                          "\nClient32DownloadUrl=" + url + "\nClientPackageSha256=" + Sha256Hex(package) + "\n");
  const std::string staging = InstallDir() + "/client.staging";
  const std::string log = InstallLayout::LogPathFor("update_download_child");
  const auto runChild = [&](const std::string& moment) {
    pid_t child = StartChild(server.Url("/config"), moment);
    int status = 0;
    waitpid(child, &status, 0);
    return status;
  };
  const auto inClient = [&](int part) { return os::PathExists(DataDir() + "/part" + std::to_string(part) + ".bin"); };

  // 1. Killed at 60 % of the download: entries are staged, none is in the client.
  int status = runChild("download:60");
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
  const int64_t part = FileSize(PackagePath());
  EXPECT_GT(part, 0);
  EXPECT_LT(part, static_cast<int64_t>(package.size()));
  EXPECT_TRUE(os::PathExists(staging + "/part0.bin"));
  for (int i = 0; i < 40; ++i) EXPECT_FALSE(inClient(i)) << i;

  // 2. The download resumes and the staging is made again from the package; killed after the
  // tenth file was moved in: those ten are in the client, whole, the rest is not, no record.
  status = runChild("unzip:10");
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
  ASSERT_EQ(server.PackageRanges().size(), 2u);
  // From the offset the killed run saved (at most what it had written).
  const std::string range = server.PackageRanges()[1];
  ASSERT_EQ(range.rfind("bytes=", 0), 0u) << range;
  EXPECT_GT(std::stoll(range.substr(6)), 0);
  EXPECT_LE(std::stoll(range.substr(6)), part);
  EXPECT_NE(Sandbox::ReadFile(log).find("::671] package staged while downloading: 41 entries"), std::string::npos);
  EXPECT_EQ(Sandbox::ReadFile(PackagePath()), package);
  for (int i = 0; i < 40; ++i) {
    EXPECT_EQ(inClient(i), i < 10) << i;
    if (i < 10) {
      EXPECT_EQ(Sandbox::ReadFile(DataDir() + "/part" + std::to_string(i) + ".bin"), entries[i].data);
    }
  }
  EXPECT_FALSE(os::PathExists(DataDir() + "/game_client_version.txt"));

  // 3. A run to its end installs the package on disk without downloading it again.
  status = runChild("");
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(server.PackageRanges().size(), 2u);
  for (int i = 0; i < 40; ++i)
    EXPECT_EQ(Sandbox::ReadFile(DataDir() + "/part" + std::to_string(i) + ".bin"), entries[i].data) << i;
  EXPECT_EQ(Sandbox::ReadFile(DataDir() + "/game_client_version.txt"), "1.0.3.7");
  EXPECT_FALSE(os::PathExists(staging));
  EXPECT_FALSE(os::PathExists(PackagePath()));
}

}  // namespace
