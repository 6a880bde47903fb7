// Extraction of the package into the client directory, and what follows a successful one.
#include <sys/stat.h>

#include "UpdateTestSupport.h"
#include "os/FileSystem.h"
#include "os/Process.h"
#include "update/CGameRemoteConfig.h"

namespace {

const char kOnUnzip[] = "CGameRemoteConfig::OnUnzipFile";
const char kUnzip[] = "CGameRemoteConfig::UnzipFile";

mode_t Mode(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : 0;
}

class UnzipTest : public UpdateTest {
 protected:
  int Unzip(const std::vector<ZipEntry>& entries, RecordingWindow& window) {
    Sandbox::WriteFile(PackagePath(), BuildZip(entries));
    return Pipeline().UnzipFile(PackagePath(), &window);
  }
};

TEST_F(UnzipTest, ExtractsEntriesReportsProgressAndRecordsVersion) {
  Ctx().remoteConfig.Parse("ClientVersion=1.0.3.7");
  Ctx().updateState.SetGameName("qvx_abc");
  os::MakeDirectory(DataDir() + "/data");  // a directory entry for an existing directory is fine
  RecordingWindow window;
  ASSERT_EQ(Unzip({{"data/", "", 0755},
                   {"data/a.bin", RandomBytes(20000, 3), 0644},
                   {"data/run.sh", "#!/bin/sh\necho hi\n", 0755},
                   {"readme.txt", "read me", 0}},
                  window),
            1);

  EXPECT_EQ(window.Progress(0),
            (std::vector<std::pair<std::string, int>>{{"1/4", 25}, {"2/4", 50}, {"3/4", 75}, {"4/4", 100}}));
  EXPECT_EQ(window.Messages(), std::vector<std::string>{"更新已完成"});
  EXPECT_EQ(window.Calls().back(), "SetReady");

  EXPECT_EQ(Sandbox::ReadFile(DataDir() + "/data/a.bin"), RandomBytes(20000, 3));
  EXPECT_EQ(Mode(DataDir() + "/data/run.sh") & 0111, ModeAsKept(0755) & 0111);  // executable stays executable
  EXPECT_EQ(Mode(DataDir() + "/data/a.bin") & 0111, 0u);
  EXPECT_EQ(Sandbox::ReadFile(DataDir() + "/readme.txt"), "read me");
  EXPECT_EQ(Sandbox::ReadFile(DataDir() + "/game_client_version.txt"), "1.0.3.7");  // no line end
  EXPECT_FALSE(os::PathExists(PackagePath()));

  // The launcher copy under the game's name keeps its execute bit.
  std::string copy = Ctx().layout.LauncherCopyPath("qvx_abc");
  // Compared, not printed: a program's bytes would flood the report.
  EXPECT_TRUE(Sandbox::ReadFile(copy) == Sandbox::ReadFile(os::ExecutablePath())) << copy << " is not the launcher";
  EXPECT_EQ(Mode(copy) & 0100, 0100u);

  std::string log = TakeLog();
  EXPECT_TRUE(LogHas(log, "INFO", kOnUnzip, 393, "unzip file:" + PackagePath() + " begin"));
  EXPECT_TRUE(LogHas(log, "INFO", kOnUnzip, 426, "data/run.sh"));
  EXPECT_TRUE(LogHas(log, "INFO", kOnUnzip, 489, "unzip is finish!"));
  EXPECT_TRUE(LogHas(log, "INFO", kUnzip, 718, os::ExecutablePath()));
  EXPECT_TRUE(LogHas(log, "INFO", kUnzip, 748, "unzip is finish!"));
}

TEST_F(UnzipTest, FailuresShowUnzipFailedAndKeepThePackage) {
  struct Case {
    const char* name;
    std::vector<ZipEntry> entries;  // empty: the package is not a zip at all
    const char* errorLine;          // extra error log line expected, or nullptr
    int errorNumber;
  };
  const Case cases[] = {
      {"a file where a folder goes", {{"data", "x", 0}, {"data/a.bin", "x", 0}}, nullptr, 0},
      {"not an archive", {}, "zipfile is NULL!", 401},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    Ctx().remoteConfig.Parse("ClientVersion=1.0.3.7");
    RecordingWindow window;
    if (c.entries.empty())
      Sandbox::WriteFile(PackagePath(), "this is no zip");
    else
      Sandbox::WriteFile(PackagePath(), BuildZip(c.entries));
    EXPECT_EQ(Pipeline().UnzipFile(PackagePath(), &window), 0);
    EXPECT_EQ(window.Messages(), std::vector<std::string>{"解压失败"});
    EXPECT_FALSE(window.Has("SetReady"));
    EXPECT_TRUE(os::PathExists(PackagePath()));
    EXPECT_FALSE(os::PathExists(DataDir() + "/game_client_version.txt"));
    std::string log = TakeLog();
    EXPECT_TRUE(LogHas(log, "INFO", kUnzip, 755, "unzip is error!"));
    if (c.errorLine) {
      EXPECT_TRUE(LogHas(log, "ERROR", kOnUnzip, c.errorNumber, c.errorLine));
    }
  }
}

TEST_F(UnzipTest, EntriesPointingOutsideTheClientDirectoryAreRefused) {
  const std::string outside = sandbox_.Root() + "/outside.txt";
  for (const std::string& name : {std::string("../x"), std::string("a/../../x"), outside, std::string("..\\x")}) {
    SCOPED_TRACE(name);
    SetUp();
    RecordingWindow window;
    // A harmless entry first: the refusal must come before anything is written for the bad one.
    EXPECT_EQ(Unzip({{"ok.txt", "fine", 0}, {name, "escaped", 0}}, window), 0);
    EXPECT_FALSE(os::PathExists(InstallDir() + "/x"));
    EXPECT_FALSE(os::PathExists(outside));
    EXPECT_FALSE(os::PathExists(DataDir() + "/..\\x"));
    EXPECT_EQ(window.Messages(), std::vector<std::string>{"解压失败"});
  }
}

TEST_F(UnzipTest, FailedLauncherCopyIsLoggedAndSkipsShortcutsOnly) {
  Ctx().remoteConfig.Parse("ClientVersion=1.0.3.7");
  Ctx().updateState.SetGameName("qvx");
  const std::string copy = InstallDir() + "/qvx" + os::ExecutableSuffix();
  os::MakeDirectory(copy);  // a directory where the copy should go
  os::MakeDirectory(copy + "/keep");
  RecordingWindow window;
  EXPECT_EQ(Unzip({{"a.txt", "a", 0}}, window), 1);
  EXPECT_EQ(window.Messages(), std::vector<std::string>{"更新已完成"});
  EXPECT_EQ(Sandbox::ReadFile(DataDir() + "/game_client_version.txt"), "1.0.3.7");
  EXPECT_FALSE(os::PathExists(InstallDir() + "/qvx-uninstall.desktop"));
  std::string log = TakeLog();
  EXPECT_NE(log.find("][CGameRemoteConfig::UnzipFile::728] CopyFile ret:"), std::string::npos) << log;
  EXPECT_EQ(log.find("Begin CreateShortcut"), std::string::npos);
}

TEST_F(UnzipTest, MissingClientVersionWritesAnEmptyRecord) {
  RecordingWindow window;
  EXPECT_EQ(Unzip({{"a.txt", "a", 0}}, window), 1);
  EXPECT_TRUE(os::PathExists(DataDir() + "/game_client_version.txt"));
  EXPECT_EQ(Sandbox::ReadFile(DataDir() + "/game_client_version.txt"), "");
}

}  // namespace
