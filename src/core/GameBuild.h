// Which build of the game the installed client holds: the native one, started directly, or a
// Windows one, started through Wine. Read from the files in the game directory. Any thread.
#pragma once

#include "core/InstallLayout.h"

enum class GameBuild {
  Native,   // <gameDir>/<GameShortName> exists (or neither build does: its start then fails)
  Windows,  // no native executable, and <gameDir>/<GameShortName>.exe is a Windows executable
};

GameBuild DetectGameBuild(const InstallLayout& layout);
