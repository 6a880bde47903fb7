// The resumable package download, driven through the whole worker against a loopback server.
#include <sys/stat.h>
#include <algorithm>
#include <future>
#include <thread>

#include "UpdateTestSupport.h"
#include "net/MachineInfo.h"
#include "os/FileSystem.h"
#include "update/CGameRemoteConfig.h"
#include "update/ResumeCheckpoints.h"
#include "update/ResumeState.h"

namespace {

const char kDownload[] = "CGameRemoteConfig::OnDownLoad";
const char kPackageRoute[] = "/harlu7/1.0.3.7/p.zip";

int64_t FileSize(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

class DownloadTest : public UpdateTest {
 protected:
  // A configuration whose package URL needs both placeholders replaced; the URL of the other
  // word size leads nowhere.
  std::string Config(TestServer& server) {
    std::string good = server.Url("/{ditch_name}/{version}/p.zip");
    std::string bad = server.Url("/not-this-one.zip");
    bool wide = Ctx().machine.Is64BitWindows();
    return "ClientVersion=1.0.3.7\nClientMiniUpdateVersion=1.0.0.5\nClientDownloadUrl=" + (wide ? good : bad) +
           "\nClient32DownloadUrl=" + (wide ? bad : good) + "\nEntryUrl=http://127.0.0.1/page\n";
  }

  std::string Package() {
    return BuildZip({{"data/", "", 0}, {"data/a.bin", RandomBytes(30000, 7), 0}, {"b.txt", "hello", 0}});
  }

  void WriteState(const std::string& version, int64_t offset, int64_t total) {
    Sandbox::WriteFile(StatePath(), "downloadVersion=" + version + "\noffset=" + std::to_string(offset) +
                                        "\ntotalSize=" + std::to_string(total) + "\n");
  }

  void ExpectInstalled(const RecordingWindow& window) {
    ASSERT_FALSE(window.Messages().empty());
    EXPECT_EQ(window.Messages().back(), "更新已完成");
    EXPECT_TRUE(window.Has("SetReady"));
    EXPECT_EQ(Sandbox::ReadFile(DataDir() + "/data/a.bin"), RandomBytes(30000, 7));
    EXPECT_EQ(Sandbox::ReadFile(DataDir() + "/game_client_version.txt"), "1.0.3.7");
    EXPECT_FALSE(os::PathExists(PackagePath()));
  }
};

TEST_F(DownloadTest, StartDecisionPicksRangeAndKeepsEveryByteOnce) {
  struct Case {
    const char* name;
    const char* stateVersion;  // nullptr: no resume state file
    int64_t savedOffset;
    int64_t bytesOnDisk;  // -1: no package file
    const char* range;    // what the package request must ask for
    int logLine;
    const char* logText;
  };
  const Case cases[] = {
      // No state reads as version 0.0.0.0, below the mini update version: the first row decides.
      {"first install", nullptr, 0, -1, "", 580,
       "Download version is elder than mini update version. Restart downloading resources."},
      {"complete per state, package gone", "1.0.3.7", int64_t{1} << 40, -1, "", 616,
       "Unzip failed, and restart downloading game resource!"},
      {"resume", "1.0.3.7", 1000, 1000, "bytes=1000-", 589, "Try Resuming download from break point."},
      // A run killed after its last save left more bytes than the state names: cut back, no duplicate.
      {"file ahead of state", "1.0.3.7", 1000, 1500, "bytes=1000-", 589, "Try Resuming download from break point."},
      // Fewer bytes than the state names: resume from what is really there.
      {"file behind state", "1.0.3.7", 1000, 600, "bytes=600-", 589, "Try Resuming download from break point."},
      {"other version", "1.0.3.6", 1000, 1000, "", 595,
       "Could not resume from break point because of the different version between local machine and remote "
       "server..."},
      // A complete package of another version is not unzipped; no resume was tried.
      {"complete package of another version", "1.0.3.6", int64_t{1} << 40, -1, "", 603,
       "the package on disk is of version 1.0.3.6, not the offered one: not unzipped"},
      {"elder than mini update", "1.0.0.1", 1000, 1000, "", 580,
       "Download version is elder than mini update version. Restart downloading resources."},
  };
  const std::string package = Package();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    TestServer server;
    ServeConfig(server, Config(server));
    server.ServePackage(kPackageRoute, package);
    if (c.stateVersion) WriteState(c.stateVersion, c.savedOffset, static_cast<int64_t>(package.size()));
    if (c.bytesOnDisk >= 0) Sandbox::WriteFile(PackagePath(), package.substr(0, static_cast<size_t>(c.bytesOnDisk)));

    RecordingWindow window;
    EXPECT_EQ(Pipeline().InitRemoteConfig(&window), 0u);

    EXPECT_EQ(server.PackageRanges(), std::vector<std::string>{c.range});
    ExpectInstalled(window);
    // No extraction is tried without a package: no failure shown or reported on the way.
    EXPECT_EQ(window.Messages(), std::vector<std::string>{"更新已完成"});
    const std::vector<std::string> reports = Telemetry().Messages();
    EXPECT_EQ(std::count(reports.begin(), reports.end(), "game unzip failed"), 0);
    std::string log = TakeLog();
    // The version line comes only after a resume was tried.
    if (c.logLine != 595 && c.logLine != 589) {
      EXPECT_EQ(log.find("Could not resume from break point"), std::string::npos);
    }
    EXPECT_TRUE(LogHas(log, "INFO", kDownload, c.logLine, c.logText));
    EXPECT_TRUE(LogHas(log, "INFO", kDownload, 540, server.Url(kPackageRoute)));
    EXPECT_TRUE(LogHas(log, "INFO", kDownload, 685, "download is finish"));

    // Progress: "0%" until the size is known, then never below what was already there.
    auto progress = window.Progress(1);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), std::make_pair(std::string("100%"), 100));
    int floor = c.range[0] ? static_cast<int>(c.savedOffset * 100 / static_cast<int64_t>(package.size())) : 0;
    if (c.bytesOnDisk >= 0 && c.bytesOnDisk < c.savedOffset)
      floor = static_cast<int>(c.bytesOnDisk * 100 / package.size());
    for (const auto& [text, percent] : progress) {
      EXPECT_EQ(text, std::to_string(percent) + "%");
      if (text != "0%") {
        EXPECT_GE(percent, floor);
      }
    }
  }
}

TEST_F(DownloadTest, CompleteOldPackageIsExtractedWithoutTransfer) {
  TestServer server;
  ServeConfig(server, Config(server));
  const std::string package = Package();
  server.ServePackage(kPackageRoute, package);
  WriteState("1.0.3.7", static_cast<int64_t>(package.size()), static_cast<int64_t>(package.size()));
  Sandbox::WriteFile(PackagePath(), package);

  RecordingWindow window;
  Pipeline().InitRemoteConfig(&window);

  EXPECT_TRUE(server.PackageRanges().empty());
  ExpectInstalled(window);
  std::string log = TakeLog();
  EXPECT_TRUE(LogHas(log, "INFO", kDownload, 602, "Try unzipping old resource..."));
  EXPECT_TRUE(LogHas(log, "INFO", kDownload, 609, "Unzip success!"));
}

TEST_F(DownloadTest, MissingPackageKeysFailBeforeAnyTransfer) {
  struct Case {
    const char* name;
    std::string config;
    int line;
    const char* text;
  };
  const Case cases[] = {
      {"no package URL", "ClientVersion=1.0.3.7\nClient32DownloadUrl=http://127.0.0.1:1/x\n", 525,
       "ClientDownloadUrl is NotFound!"},
      {"no client version", "ClientDownloadUrl=http://127.0.0.1:1/x\nClient32DownloadUrl=http://127.0.0.1:1/x\n", 533,
       "ClientVersion is NotFound!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    TestServer server;
    std::string config = c.config;
    if (!Ctx().machine.Is64BitWindows() && std::string(c.name) == "no package URL")
      config = "ClientVersion=1.0.3.7\nClientDownloadUrl=http://127.0.0.1:1/x\n";
    ServeConfig(server, config);
    RecordingWindow window;
    Pipeline().InitRemoteConfig(&window);
    EXPECT_EQ(window.Messages(), std::vector<std::string>{"更新失败,请检查网络:103"});
    EXPECT_TRUE(LogHas(TakeLog(), "ERROR", kDownload, c.line, c.text));
  }
}

// The transfer asks the checkpoint thread for saves: asking never waits for a save held up on the
// disk, and a save asked for before the thread goes is made, with the counters of that moment.
TEST_F(DownloadTest, CheckpointsAreAskedForWithoutWaitingAndNoneAskedForIsLost) {
  UpdateState& state = Ctx().updateState;
  Sandbox::WriteFile(PackagePath(), std::string(40, 'x'));
  state.UpdateCounters([](DownloadCounters& c) {
    c.loaded = true;
    c.resumeOffset = c.downloadedBytes = 10;
    c.totalSize = 40;
  });
  const auto savedOffset = [&] { return ReadResumeValue(Ctx().layout, "offset"); };
  std::promise<void> held;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::thread holder([&] { resume_detail::WithSavesHeld(state, [&] { held.set_value(), released.wait(); }); });
  held.get_future().wait();
  {
    ResumeCheckpoints checkpoints(state, Ctx().layout);
    checkpoints.Request();  // the thread's save waits for the saves to be let go
    auto asked = std::async(std::launch::async, [&] { checkpoints.Request(); });
    EXPECT_EQ(asked.wait_for(std::chrono::seconds(5)), std::future_status::ready) << "asking waited for a save";
    state.UpdateCounters([](DownloadCounters& c) { c.downloadedBytes = 20; });
    release.set_value();
    asked.wait();
    for (int i = 0; i < 500 && savedOffset() != "20"; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(savedOffset(), "20");

    // Asked for right before the thread goes: still saved.
    state.UpdateCounters([](DownloadCounters& c) { c.downloadedBytes = 30; });
    checkpoints.Request();
  }
  holder.join();
  EXPECT_EQ(savedOffset(), "30");
  EXPECT_EQ(ReadResumeValue(Ctx().layout, "totalSize"), "40");
}

// The launcher closes mid-transfer: saves from another thread never promise bytes the file
// lacks, the transfer stops promptly, the last save names exactly what the file holds, and the
// next run resumes from there to a byte-identical package.
TEST_F(DownloadTest, CancelMidTransferThenResumeGivesIdenticalPackage) {
  TestServer server;
  ServeConfig(server, Config(server));
  const std::string package = RandomBytes(3 * 1024 * 1024, 11);  // not a zip: it stays for comparison
  server.ServePackage(kPackageRoute, package, false, 32 * 1024, std::chrono::milliseconds(10));

  RecordingWindow window;
  auto worker = std::async(std::launch::async, [&] { return Pipeline().InitRemoteConfig(&window); });
  int saves = 0;
  auto started = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() - started < std::chrono::milliseconds(400)) {
    SaveResumeState(Ctx().updateState, Ctx().layout);
    int64_t saved = ParseDecimalPrefix64(ReadResumeValue(Ctx().layout, "offset"));
    EXPECT_LE(saved, std::max<int64_t>(FileSize(PackagePath()), 0));
    ++saves;
  }
  Ctx().updateState.RequestCancel();
  ASSERT_EQ(worker.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "transfer did not stop";
  EXPECT_GT(saves, 10);

  SaveResumeState(Ctx().updateState, Ctx().layout);
  int64_t saved = ParseDecimalPrefix64(ReadResumeValue(Ctx().layout, "offset"));
  EXPECT_EQ(saved, FileSize(PackagePath()));
  EXPECT_GT(saved, 0);
  EXPECT_LT(saved, static_cast<int64_t>(package.size()));
  EXPECT_EQ(ReadResumeValue(Ctx().layout, "downloadVersion"), "1.0.3.7");
  EXPECT_EQ(ReadResumeValue(Ctx().layout, "totalSize"), std::to_string(package.size()));
  EXPECT_EQ(window.Messages(), (std::vector<std::string>{"更新失败,请检查网络:104", "更新失败,请检查网络:103"}));

  // The next run.
  StartNextRun();
  RecordingWindow next;
  Pipeline().InitRemoteConfig(&next);
  auto ranges = server.PackageRanges();
  ASSERT_EQ(ranges.size(), 2u);
  EXPECT_EQ(ranges[1], "bytes=" + std::to_string(saved) + "-");
  EXPECT_EQ(Sha256Hex(Sandbox::ReadFile(PackagePath())), Sha256Hex(package));
  // Not a zip: the extraction fails and the package stays.
  EXPECT_EQ(next.Messages(), (std::vector<std::string>{"解压失败", "更新失败,请检查网络:103"}));
}

}  // namespace
