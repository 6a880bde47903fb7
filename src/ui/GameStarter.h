// How the installed game is started: a native build directly, a Windows build through Wine in the
// launcher's prefix (whose drive_c is then the game's C: drive). A small value decided once the
// installed client is final (the ready mark) and used by the launch. Any thread.
#pragma once

#include <string>

#include "core/GameBuild.h"
#include "core/InstallLayout.h"
#include "os/ProcessId.h"

class GameStarter {
 public:
  // The installed client's build and, for a Windows build, the Wine that runs it (VELLMORA_WINE,
  // else "wine" on PATH).
  static GameStarter ForInstalledClient(const InstallLayout& layout);
  GameStarter(const InstallLayout& layout, GameBuild build, std::string runner);

  bool NeedsWine() const { return build_ == GameBuild::Windows; }
  // False for a Windows build without Wine.
  bool CanStart() const { return !NeedsWine() || !runner_.empty(); }
  const std::string& Runner() const { return runner_; }
  // The game's own executable: the native one, or the Windows one that Wine runs.
  const std::string& Executable() const { return executable_; }

  // Starts the game in its directory. A native build gets argv = SplitCommandLine(commandLine),
  // so argv[0] is the command line's first token (the launcher's program) as on Windows. Through
  // Wine the game's program name is its own executable, and the arguments after the command
  // line's first token follow unchanged. Returns the process to wait for, or -1.
  os::ProcessId Start(const std::string& commandLine) const;

 private:
  GameBuild build_;
  std::string executable_;
  std::string gameDir_;
  std::string runner_;
};
