// Where everything of this build lives on disk: one value built at start-up from the compiled-in
// identity, the prefix's drives and the install directory that start-up settles. Every other
// place asks it instead of joining paths of its own. Read-only once built; any thread.
#pragma once

#include <string>

struct InstallLayout {
  std::string appName;                // the launcher's application name (file name without directory)
  std::string installDir;             // InstallDir, e.g. <drive C:>/qvx-harlu7
  std::string dataDir;                // DataDir: <InstallDir>/client
  std::string stagingDir;             // <InstallDir>/client.staging: a package unpacked while it downloads
  std::string logPath;                // <drive C:>/<FolderName>/<appName>.log, whatever InstallDir is
  std::string driveCFolder;           // <drive C:>/<FolderName>: uninstall removes it with InstallDir
  std::string packagePath;            // <InstallDir>/<GameShortName>.zip
  std::string resumeStatePath;        // <InstallDir>/tempdownload.dat
  std::string versionRecordPath;      // <DataDir>/game_client_version.txt
  std::string gameDir;                // <DataDir>/<GameShortName>: the game's working directory
  std::string gameExecutable;         // <gameDir>/<GameShortName> + the executable suffix
  std::string windowsGameExecutable;  // <gameDir>/<GameShortName>.exe: a Windows build, run through Wine
  std::string dumpBasePath;           // <InstallDir>/<appName>: crash records add a time stamp
  std::string startMenuFolder;        // <start menu>/Apps/<ChannelName>
  std::string desktopDir;             // the user's desktop

  // "<GameShortName>-<ChannelName>", the installation's folder name on a drive.
  static std::string FolderName();

  // The install-directory rule: drive C:, then D:, then the registry's "InstallPath", then the
  // launcher directory (which ends in '/') followed by the folder name.
  static std::string SettleInstallDir(const std::string& registryValue, const std::string& launcherDir);

  // The log file's path; known before InstallDir is settled (the log opens first).
  static std::string LogPathFor(const std::string& appName);

  // Every path below installDir, for this application name.
  static InstallLayout Build(const std::string& installDir, const std::string& appName);

  // The launcher copy in InstallDir: <InstallDir>/<gameName> + the executable suffix.
  std::string LauncherCopyPath(const std::string& gameName) const;
};
