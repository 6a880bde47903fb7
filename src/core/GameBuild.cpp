#include "core/GameBuild.h"

#include "os/FileSystem.h"
#include "os/PeImage.h"

GameBuild DetectGameBuild(const InstallLayout& layout) {
  if (os::PathExists(layout.gameExecutable)) return GameBuild::Native;
  if (!layout.windowsGameExecutable.empty() && os::IsWindowsExecutable(layout.windowsGameExecutable))
    return GameBuild::Windows;
  return GameBuild::Native;
}
