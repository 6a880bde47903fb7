// The install layout: where the installation lives and every path derived from it.
#include <gtest/gtest.h>

#include "core/InstallLayout.h"
#include "support/Sandbox.h"

TEST(InstallDir, DriveCThenDriveDThenRegistryThenLauncherDirectory) {
  struct Case {
    bool c, d;
    const char* registry;
    const char* expect;  // relative to the prefix, or absolute when it starts with '/'
  } cases[] = {
      {true, true, "/elsewhere/qvx", "drive_c/qvx-harlu7"},  {true, false, "", "drive_c/qvx-harlu7"},
      {false, true, "/elsewhere/qvx", "drive_d/qvx-harlu7"}, {false, false, "/elsewhere/qvx", "/elsewhere/qvx"},
      {false, false, "", "/opt/launcher/qvx-harlu7"},
  };
  for (const auto& c : cases) {
    Sandbox box;
    box.MakeDrives(c.c, c.d);
    std::string expect = c.expect[0] == '/' ? c.expect : box.Prefix() + "/" + c.expect;
    EXPECT_EQ(InstallLayout::SettleInstallDir(c.registry, "/opt/launcher/"), expect)
        << "C:" << c.c << " D:" << c.d << " registry:" << c.registry;
  }
}

TEST(InstallLayout, EveryPathDerivesFromTheInstallDirectoryExceptTheLog) {
  Sandbox box;
  box.MakeDrives(true, true);
  const InstallLayout l = InstallLayout::Build("/games/qvx-x", "vellmora_fc");
  EXPECT_EQ(InstallLayout::FolderName(), "qvx-harlu7");
  EXPECT_EQ(l.dataDir, "/games/qvx-x/client");
  EXPECT_EQ(l.packagePath, "/games/qvx-x/qvx.zip");
  EXPECT_EQ(l.resumeStatePath, "/games/qvx-x/tempdownload.dat");
  EXPECT_EQ(l.versionRecordPath, "/games/qvx-x/client/game_client_version.txt");
  EXPECT_EQ(l.gameDir, "/games/qvx-x/client/qvx");
  EXPECT_EQ(l.gameExecutable, "/games/qvx-x/client/qvx/qvx");
  EXPECT_EQ(l.windowsGameExecutable, "/games/qvx-x/client/qvx/qvx.exe");
  EXPECT_EQ(l.dumpBasePath, "/games/qvx-x/vellmora_fc");
  EXPECT_EQ(l.LauncherCopyPath("qvx_fc"), "/games/qvx-x/qvx_fc");
  // The log always lives on drive C:, whatever the installation directory.
  EXPECT_EQ(l.logPath, box.DriveC() + "/qvx-harlu7/vellmora_fc.log");
  EXPECT_EQ(l.driveCFolder, box.DriveC() + "/qvx-harlu7");
  EXPECT_EQ(l.startMenuFolder, box.Root() + "/home/.local/share/applications/Apps/harlu7");
  EXPECT_EQ(l.desktopDir, box.Root() + "/home/Desktop");
}
