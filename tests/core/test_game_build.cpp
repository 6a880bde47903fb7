// Which build of the game the client holds: the native executable wins; a Windows build is one
// whose <game>.exe really is a Windows executable.
#include <gtest/gtest.h>

#include "core/GameBuild.h"
#include "os/FileSystem.h"
#include "support/Sandbox.h"
#include "support/WindowsExecutable.h"

TEST(GameBuild, NativeUnlessOnlyAWindowsExecutableIsInstalled) {
  const std::string pe = SmallestWindowsExecutable();
  struct Case {
    const char* name;
    const char* native;
    std::string exe;
    GameBuild build;
  } cases[] = {
      {"windows build", nullptr, pe, GameBuild::Windows},
      {"both builds", "#!/bin/sh\n", pe, GameBuild::Native},
      {"native build", "#!/bin/sh\n", "", GameBuild::Native},
      {"an .exe that is no Windows executable", nullptr, "#!/bin/sh\n", GameBuild::Native},
      {"nothing installed", nullptr, "", GameBuild::Native},
  };
  for (const Case& c : cases) {
    Sandbox box;
    box.MakeDrives(true);
    const InstallLayout layout = InstallLayout::Build(box.InstallDir(), "vellmora");
    os::MakeDirectories(layout.gameDir);
    if (c.native) Sandbox::WriteFile(layout.gameExecutable, c.native);
    if (!c.exe.empty()) Sandbox::WriteFile(layout.windowsGameExecutable, c.exe);
    EXPECT_EQ(DetectGameBuild(layout), c.build) << c.name;
  }
}
