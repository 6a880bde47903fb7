#include "ui/GameStarter.h"

#include <utility>
#include <vector>

#include "log/LauncherLog.h"
#include "os/Prefix.h"
#include "os/Process.h"
#include "os/WineRunner.h"

GameStarter GameStarter::ForInstalledClient(const InstallLayout& layout) {
  const GameBuild build = DetectGameBuild(layout);
  return GameStarter(layout, build, build == GameBuild::Windows ? os::FindWineRunner() : std::string());
}

GameStarter::GameStarter(const InstallLayout& layout, GameBuild build, std::string runner)
    : build_(build),
      executable_(build == GameBuild::Windows ? layout.windowsGameExecutable : layout.gameExecutable),
      gameDir_(layout.gameDir),
      runner_(std::move(runner)) {}

os::ProcessId GameStarter::Start(const std::string& commandLine) const {
  if (!NeedsWine()) return os::SpawnProcess(executable_, commandLine, gameDir_);
  if (runner_.empty()) return -1;
  LogInfo("through wine:" + runner_, "CWebCDlg::LaunchGame", "CWebCDlg", 466);
  std::vector<std::string> args = os::SplitCommandLine(commandLine);
  args.erase(args.begin());  // the launcher's program; Wine names the game's own
  return os::SpawnThroughWine(runner_, executable_, args, gameDir_, os::PrefixDir());
}
