// The update worker's outcomes, each with what the player finally sees and the last log line.
#include "UpdateTestSupport.h"
#include "os/FileSystem.h"
#include "os/Process.h"
#include "platform/CWindowMessageHandler.h"
#include "update/CGameRemoteConfig.h"

namespace {

const char kWorker[] = "CGameRemoteConfig::InitRemoteConfig";

class WorkerTest : public UpdateTest {};

TEST_F(WorkerTest, WithoutWindowNothingHappens) {
  EXPECT_EQ(Pipeline().InitRemoteConfig(nullptr), 0u);
  EXPECT_TRUE(LogHas(TakeLog(), "ERROR", kWorker, 118, "lpParameter is NULL!"));
}

TEST_F(WorkerTest, ConfigurationFailureShows102AndNeverOpensThePage) {
  struct Case {
    const char* name;
    bool reachable;
    const char* logText;
  };
  for (const Case& c :
       {Case{"404", true, "res:0, httpStatusCode:404"}, Case{"unreachable", false, "res:7, httpStatusCode:0"}}) {
    SCOPED_TRACE(c.name);
    SetUp();
    TestServer server;  // only /other is served: /config answers 404
    server.ServeText("/other", "x");
    SetConfigUrl(c.reachable ? server.Url("/config") : "http://127.0.0.1:" + std::to_string(UnusedPort()) + "/config");
    RecordingWindow window;
    EXPECT_EQ(Pipeline().InitRemoteConfig(&window), 0u);
    EXPECT_EQ(window.Calls(),
              (std::vector<std::string>{"SetProgress|更新失败,请检查网络:102||0|0", "ShowMessageView"}));
    EXPECT_TRUE(LogHas(TakeLog(), "ERROR", kWorker, 200, c.logText));
    // The worker touched no file.
    EXPECT_FALSE(os::PathExists(StatePath()));
    EXPECT_FALSE(os::PathExists(PackagePath()));
    EXPECT_EQ(Ctx().updateState.FirstInstall(), 0);
  }
}

TEST_F(WorkerTest, UpToDateClientRegistersWithoutDownloading) {
  TestServer server;
  server.ServePackage("/p.zip", "never fetched");
  ServeConfig(server, "ClientVersion=1.0.0.9\nClientMiniUpdateVersion=1.0.0.5\nClientDownloadUrl=" +
                          server.Url("/p.zip") + "\nClient32DownloadUrl=" + server.Url("/p.zip") + "\n");
  Sandbox::WriteFile(DataDir() + "/game_client_version.txt", "1.0.0.5");
  // Started as abc_xyz: the copy, the links and the uninstall entry name qvx_xyz.
  StartNextRun(std::string(), "abc_xyz");
  RecordingWindow window;
  Pipeline().InitRemoteConfig(&window);

  EXPECT_TRUE(server.PackageRanges().empty());
  EXPECT_EQ(window.Calls(),
            (std::vector<std::string>{"InitWebBrower", "SetProgress|更新已完成||0|0", "ShowMessageView", "SetReady"}));
  EXPECT_EQ(Ctx().updateState.FirstInstall(), 0);
  EXPECT_EQ(Ctx().updateState.GameName(), "qvx_xyz");
  const std::string copy = Ctx().layout.LauncherCopyPath("qvx_xyz");
  // Compared, not printed: a program's bytes would flood the report.
  EXPECT_TRUE(Sandbox::ReadFile(copy) == Sandbox::ReadFile(os::ExecutablePath())) << copy << " is not the launcher";
#ifndef _WIN32
  // The uninstall entry (on Windows a registry key, read back by the registration's own tests).
  EXPECT_NE(Sandbox::ReadFile(InstallDir() + "/qvx-uninstall.desktop").find(copy), std::string::npos);
#endif
  std::string log = TakeLog();
  EXPECT_TRUE(LogHas(log, "INFO", kWorker, 214, Ctx().layout.versionRecordPath));
  EXPECT_TRUE(LogHas(log, "INFO", kWorker, 271, "work_path:" + os::ExecutablePath()));
  EXPECT_TRUE(LogHas(log, "INFO", kWorker, 274, "dest_path:" + copy));
  EXPECT_TRUE(LogHas(log, "INFO", kWorker, 284, "update finish!"));
}

TEST_F(WorkerTest, VersionDecisionAgainstMiniUpdateVersion) {
  struct Case {
    const char* name;
    const char* record;  // nullptr: no version record
    const char* config;
    bool downloads;
    int firstInstall;
  };
  const Case cases[] = {
      {"older than mini", "1.0.0.4", "ClientMiniUpdateVersion=1.0.0.5\n", true, 0},
      {"no mini key", "9.9.9.9", "", true, 0},
      {"mini 0.0.0.0, nothing installed", nullptr, "ClientMiniUpdateVersion=0.0.0.0\n", false, 1},
      {"newer than mini", "1.0.0.10", "ClientMiniUpdateVersion=1.0.0.9\n", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    TestServer server;
    server.ServePackage("/p.zip", "not a zip");
    ServeConfig(server, std::string("ClientVersion=1.0.0.9\n") + c.config + "ClientDownloadUrl=" +
                            server.Url("/p.zip") + "\nClient32DownloadUrl=" + server.Url("/p.zip") + "\n");
    if (c.record) Sandbox::WriteFile(DataDir() + "/game_client_version.txt", c.record);
    RecordingWindow window;
    Pipeline().InitRemoteConfig(&window);
    EXPECT_EQ(server.PackageRanges().size(), c.downloads ? 1u : 0u);
    EXPECT_EQ(window.Has("SetReady"), !c.downloads);  // the served package is no zip
    EXPECT_EQ(Ctx().updateState.FirstInstall(), c.firstInstall);
    if (c.downloads) {
      EXPECT_EQ(window.Messages().back(), "更新失败,请检查网络:103");
      EXPECT_TRUE(LogHas(TakeLog(), "ERROR", kWorker, 258, "download error"));
    }
  }
}

}  // namespace
