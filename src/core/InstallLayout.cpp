#include "core/InstallLayout.h"

#include "Identity.h"
#include "os/FileSystem.h"
#include "os/Prefix.h"
#include "os/Process.h"
#include "os/ShellFolders.h"

std::string InstallLayout::FolderName() { return std::string(identity::GameShortName) + "-" + identity::ChannelName; }

std::string InstallLayout::SettleInstallDir(const std::string& registryValue, const std::string& launcherDir) {
  // On an ordinary machine the installation always lives on drive C:, whatever came before.
  if (os::DriveExists('C')) return os::JoinPath(os::DriveRoot('C'), FolderName());
  if (os::DriveExists('D')) return os::JoinPath(os::DriveRoot('D'), FolderName());
  if (!registryValue.empty()) return registryValue;
  return launcherDir + FolderName();
}

std::string InstallLayout::LogPathFor(const std::string& appName) {
  return os::JoinPath(os::JoinPath(os::DriveRoot('C'), FolderName()), appName + ".log");
}

InstallLayout InstallLayout::Build(const std::string& installDir, const std::string& appName) {
  InstallLayout l;
  l.appName = appName;
  l.installDir = installDir;
  l.dataDir = os::JoinPath(installDir, "client");
  l.stagingDir = os::JoinPath(installDir, "client.staging");
  l.logPath = LogPathFor(appName);
  l.driveCFolder = os::JoinPath(os::DriveRoot('C'), FolderName());
  l.packagePath = os::JoinPath(installDir, std::string(identity::GameShortName) + ".zip");
  l.resumeStatePath = os::JoinPath(installDir, "tempdownload.dat");
  l.versionRecordPath = os::JoinPath(l.dataDir, "game_client_version.txt");
  l.gameDir = os::JoinPath(l.dataDir, identity::GameShortName);
  l.gameExecutable = os::JoinPath(l.gameDir, std::string(identity::GameShortName) + os::ExecutableSuffix());
  l.windowsGameExecutable = os::JoinPath(l.gameDir, std::string(identity::GameShortName) + ".exe");
  l.dumpBasePath = os::JoinPath(installDir, appName);
  l.startMenuFolder = os::JoinPath(os::JoinPath(os::StartMenuDir(), "Apps"), identity::ChannelName);
  l.desktopDir = os::DesktopDir();
  return l;
}

std::string InstallLayout::LauncherCopyPath(const std::string& gameName) const {
  return os::JoinPath(installDir, gameName + os::ExecutableSuffix());
}
