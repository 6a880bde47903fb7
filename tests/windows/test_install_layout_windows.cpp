// The install layout on Windows: the real drive C:, backslash paths, the .exe suffix.
#include <gtest/gtest.h>

#include "core/InstallLayout.h"
#include "os/Prefix.h"

TEST(InstallLayoutWindows, PathsJoinWithBackslashesUnderTheInstallDirectory) {
  const InstallLayout l = InstallLayout::Build("D:\\games\\qvx-x", "vellmora_fc");
  EXPECT_EQ(l.dataDir, "D:\\games\\qvx-x\\client");
  EXPECT_EQ(l.packagePath, "D:\\games\\qvx-x\\qvx.zip");
  EXPECT_EQ(l.resumeStatePath, "D:\\games\\qvx-x\\tempdownload.dat");
  EXPECT_EQ(l.versionRecordPath, "D:\\games\\qvx-x\\client\\game_client_version.txt");
  EXPECT_EQ(l.gameExecutable, "D:\\games\\qvx-x\\client\\qvx\\qvx.exe");
  EXPECT_EQ(l.LauncherCopyPath("qvx_fc"), "D:\\games\\qvx-x\\qvx_fc.exe");
  // The log always lives on drive C:, whatever the installation directory.
  EXPECT_EQ(l.logPath, "C:\\qvx-harlu7\\vellmora_fc.log");
  EXPECT_EQ(l.driveCFolder, "C:\\qvx-harlu7");
}

TEST(InstallLayoutWindows, SettlesOnDriveCWhereItExists) {
  ASSERT_TRUE(os::DriveExists('C'));
  EXPECT_EQ(InstallLayout::SettleInstallDir("E:\\elsewhere", "C:\\launcher\\"), "C:\\qvx-harlu7");
}
