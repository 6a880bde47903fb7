// Registration of the installation: the window-size repair, the uninstall entry and the links.
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>

#include "Identity.h"
#include "UpdateTestSupport.h"
#include "os/FileSystem.h"
#include "os/Prefix.h"
#include "os/Process.h"
#include "os/Registry.h"
#include "os/ShellFolders.h"
#include "platform/CWindowMessageHandler.h"
#include "support/WindowsExecutable.h"
#include "update/CGameRemoteConfig.h"

namespace {

using os::RegRoot;

const char kSizeKey[] = "SOFTWARE\\qrd\\Vellmora";
const char kWidth[] = "Screenmanager Resolution Width_h182942802";
const char kHeight[] = "Screenmanager Resolution Height_h2627697771";
const char kDefaultWidth[] = "Screenmanager Resolution Width Default_h680557497";
const char kDefaultHeight[] = "Screenmanager Resolution Height Default_h1380706816";
const char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\qvx";

class RegistrationTest : public UpdateTest {};

std::string Hex(unsigned long long value) {
  char text[32];
  std::snprintf(text, sizeof text, "%llx", value);
  return text;
}

TEST_F(RegistrationTest, WindowSizeIsResetToDefaultsOnlyOutsideItsBounds) {
  struct Case {
    uint32_t width, height;
    bool reset;
  };
  const Case cases[] = {
      {320, 180, false},    {319, 180, true},     {320, 179, true},         {10000, 10000, false},
      {10001, 10000, true}, {10000, 10001, true}, {0xFFFFFFFFu, 600, true}, {800, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    SetUp();
    ASSERT_EQ(os::RegCreateKey(RegRoot::CurrentUser, kSizeKey), 0);
    os::RegSetDword(RegRoot::CurrentUser, kSizeKey, kWidth, c.width);
    os::RegSetDword(RegRoot::CurrentUser, kSizeKey, kHeight, c.height);
    os::RegSetDword(RegRoot::CurrentUser, kSizeKey, kDefaultWidth, 1280);
    os::RegSetDword(RegRoot::CurrentUser, kSizeKey, kDefaultHeight, 720);

    Pipeline().AdjustWindowSize();

    uint32_t w = 0, h = 0;
    os::RegQueryDword(RegRoot::CurrentUser, kSizeKey, kWidth, w);
    os::RegQueryDword(RegRoot::CurrentUser, kSizeKey, kHeight, h);
    EXPECT_EQ(w, c.reset ? 1280u : c.width);
    EXPECT_EQ(h, c.reset ? 720u : c.height);
    std::string log = TakeLog();
    EXPECT_TRUE(LogHas(log, "INFO", "CGameRemoteConfig::AdjustWindowSize", 1055,
                       "AdjustWindowSize origin data windowWidth:" + std::to_string(static_cast<int>(c.width)) +
                           " windowHeight:" + std::to_string(c.height) +
                           " windowDefaultWidth:1280 windowDefaultHeight:720"));
    EXPECT_EQ(log.find("The size of window is unnormal") != std::string::npos, c.reset);
  }
}

TEST_F(RegistrationTest, WindowSizeKeyIsNeverCreatedAndMissingDefaultsGiveZero) {
  Pipeline().AdjustWindowSize();
  EXPECT_NE(os::RegOpenKey(RegRoot::CurrentUser, kSizeKey), 0);
  std::string log = TakeLog();
  EXPECT_TRUE(LogHas(log, "INFO", "CGameRemoteConfig::AdjustWindowSize", 1055,
                     "AdjustWindowSize origin data windowWidth:0 windowHeight:0 windowDefaultWidth:0 "
                     "windowDefaultHeight:0"));
  EXPECT_TRUE(LogHas(log, "INFO", "CGameRemoteConfig::AdjustWindowSize", 1059,
                     "The size of window is unnormal, reset to default setting."));

  SetUp();
  os::RegCreateKey(RegRoot::CurrentUser, kSizeKey);
  os::RegSetDword(RegRoot::CurrentUser, kSizeKey, kWidth, 5);
  os::RegSetDword(RegRoot::CurrentUser, kSizeKey, kHeight, 5);
  Pipeline().AdjustWindowSize();
  uint32_t w = 1, h = 1;
  os::RegQueryDword(RegRoot::CurrentUser, kSizeKey, kWidth, w);
  os::RegQueryDword(RegRoot::CurrentUser, kSizeKey, kHeight, h);
  EXPECT_EQ(w, 0u);
  EXPECT_EQ(h, 0u);
}

// A Windows build reads its preferences from the Wine prefix's registry: the repair edits Wine's
// file of the current user, once a Wine server of an earlier run (which would write its own copy
// back) has ended, and leaves the launcher's own store alone.
TEST_F(RegistrationTest, WindowsBuildRepairsTheWinePrefixRegistryAfterItsServerHasEnded) {
  const std::string kHeader = "WINE REGISTRY Version 2\n#arch=win64\n\n";
  const std::string kSection =
      "[Software\\\\qrd\\\\Vellmora] 1796912214\n"
      "#time=1dd88b11b9806fa\n"
      "\"Screenmanager Resolution Height_h2627697771\"=dword:00000032\n"
      "\"Screenmanager Resolution Width_h182942802\"=dword:00000064\n"
      "\"Screenmanager Resolution Height Default_h1380706816\"=dword:000002d0\n"
      "\"Screenmanager Resolution Width Default_h680557497\"=hex(4):00,05,00,00\n\n";
  struct Case {
    const char* name;
    std::string userReg;
    const char* origin;
    std::string after;  // empty: unchanged
  } cases[] = {
      {"size out of range", kHeader + kSection,
       "windowWidth:100 windowHeight:50 windowDefaultWidth:1280 "
       "windowDefaultHeight:720",
       kHeader + "[Software\\\\qrd\\\\Vellmora] 1796912214\n"
                 "#time=1dd88b11b9806fa\n"
                 "\"Screenmanager Resolution Height_h2627697771\"=dword:000002d0\n"
                 "\"Screenmanager Resolution Width_h182942802\"=dword:00000500\n"
                 "\"Screenmanager Resolution Height Default_h1380706816\"=dword:000002d0\n"
                 "\"Screenmanager Resolution Width Default_h680557497\"=hex(4):00,05,00,00\n\n"},
      {"the game never ran", kHeader, "windowWidth:0 windowHeight:0 windowDefaultWidth:0 windowDefaultHeight:0", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    const std::string gameDir = DataDir() + "/qvx";
    os::MakeDirectories(gameDir);
    Sandbox::WriteFile(gameDir + "/qvx.exe", SmallestWindowsExecutable());
    const std::string userReg = os::PrefixDir() + "/user.reg";
    Sandbox::WriteFile(userReg, c.userReg);
    // A Wine server of the prefix that ends half a second from now.
    struct stat st;
    ASSERT_EQ(stat(os::PrefixDir().c_str(), &st), 0);
    const std::string serverDir = InstallDir() + "/wine-tmp/server-" + Hex(st.st_dev) + "-" + Hex(st.st_ino);
    os::MakeDirectories(serverDir);
    const pid_t server = os::SpawnProgram("/bin/sleep", {"wineserver", "0.5"}, serverDir);
    ASSERT_GT(server, 0);

    Pipeline().AdjustWindowSize();

    EXPECT_EQ(waitpid(server, nullptr, WNOHANG), server) << "the registry was edited while the server ran";
    EXPECT_EQ(Sandbox::ReadFile(userReg), c.after.empty() ? c.userReg : c.after);
    EXPECT_NE(os::RegOpenKey(RegRoot::CurrentUser, kSizeKey), 0) << "the launcher's own store";
    std::string log = TakeLog();
    EXPECT_TRUE(LogHas(log, "INFO", "CGameRemoteConfig::AdjustWindowSize", 1055,
                       std::string("AdjustWindowSize origin data ") + c.origin));
    EXPECT_TRUE(LogHas(log, "INFO", "CGameRemoteConfig::AdjustWindowSize", 1059,
                       "The size of window is unnormal, reset to default setting."));
  }
}

TEST_F(RegistrationTest, UninstallEntryIsWrittenReadBackAndRemoved) {
  Ctx().updateState.SetGameName("qvx_xyz");
  CGameRemoteConfig config = Pipeline();
  EXPECT_EQ(config.QueryRegistryKey(), "");

  config.SetRegisties();
  auto value = [](const char* name) {
    std::string v;
    os::RegQueryString(RegRoot::CurrentUser, kUninstallKey, name, v);
    return v;
  };
  EXPECT_EQ(value("DisplayIcon"), InstallDir() + "/qvx_xyz");
  EXPECT_EQ(value("DisplayName"), "qvx");
  EXPECT_EQ(value("DisplayVersion"), identity::LauncherVersion);
  EXPECT_EQ(value("UninstallString"), InstallDir() + "/qvx_xyz /uninstall");
  EXPECT_EQ(value("InstallPath"), InstallDir());
  EXPECT_EQ(config.QueryRegistryKey(), InstallDir());

  config.RemoveRegisties();
  EXPECT_EQ(config.QueryRegistryKey(), "");
  std::string log = TakeLog();
  EXPECT_TRUE(LogHas(log, "INFO", "CGameRemoteConfig::RemoveRegisties", 67, "lret:0"));
  EXPECT_TRUE(LogHas(log, "INFO", "CGameRemoteConfig::RemoveRegisties", 72, "lret:2"));  // never created
  EXPECT_TRUE(LogHas(log, "ERROR", "CGameRemoteConfig::QueryRegistryKey", 1076, "QueryRegistryKey lret:2 error:0"));
}

TEST_F(RegistrationTest, ShortcutSetDependsOnSource) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    bool appsFolder;                 // whether the start menu's Apps folder exists
    std::vector<std::string> links;  // relative to the sandbox home, "I/" = installation directory
    int failedSaves;
  };
  const std::string apps = "/.local/share/applications/Apps/harlu7/";
  const Case cases[] = {
      {"no source", {"vellmora"}, true, {"I/qvx-uninstall"}, 0},
      {"source FC",
       {"vellmora", "--winid=1", "--source=FC"},
       true,
       {"I/qvx-uninstall", apps + "Vellmora", apps + "qvx-uninstall", "/Desktop/Vellmora"},
       0},
      {"source fc, case ignored",
       {"vellmora", "--source=fc"},
       true,
       {"I/qvx-uninstall", apps + "Vellmora", apps + "qvx-uninstall", "/Desktop/Vellmora"},
       0},
      {"source FC on a fresh account (no Apps folder yet)",
       {"vellmora", "--source=FC"},
       false,
       {"I/qvx-uninstall", apps + "Vellmora", apps + "qvx-uninstall", "/Desktop/Vellmora"},
       0},
      {"other source", {"vellmora", "--source=FCX"}, true, {"I/qvx-uninstall"}, 0},
  };
  const std::string home = std::getenv("HOME");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    std::string commandLine;
    for (size_t i = 1; i < c.args.size(); ++i) commandLine += (i > 1 ? " " : "") + c.args[i];
    StartNextRun(commandLine);
    if (c.appsFolder) {
      ASSERT_EQ(RunShell("mkdir -p '" + home + "/.local/share/applications/Apps'"), 0);
    }
    Ctx().updateState.SetGameName("qvx_xyz");
    // An old link is replaced, not an obstacle.
    Sandbox::WriteFile(InstallDir() + "/qvx-uninstall.desktop", "stale");

    Pipeline().CreateShortcuts();

    std::vector<std::string> found;
    for (const std::string& candidate : {std::string("I/qvx-uninstall"), apps + "Vellmora", apps + "qvx-uninstall",
                                         std::string("/Desktop/Vellmora")}) {
      std::string path = (candidate.rfind("I/", 0) == 0 ? InstallDir() + "/" + candidate.substr(2) : home + candidate) +
                         os::LinkExtension();
      if (!os::PathExists(path)) continue;
      found.push_back(candidate);
      std::string entry = Sandbox::ReadFile(path);
      EXPECT_NE(entry.find(InstallDir() + "/qvx_xyz"), std::string::npos) << entry;
      EXPECT_EQ(entry.find("/uninstall") != std::string::npos, candidate.find("uninstall") != std::string::npos)
          << entry;
    }
    EXPECT_EQ(found, c.links);

    std::string log = TakeLog();
    size_t failures = 0;
    for (size_t p = log.find("CreateLink ret:"); p != std::string::npos; p = log.find("CreateLink ret:", p + 1))
      ++failures;
    EXPECT_EQ(failures, static_cast<size_t>(c.failedSaves));
    if (c.links.size() == 1) {
      std::string source = c.args.size() > 1 ? "FCX" : "";
      EXPECT_TRUE(
          LogHas(log, "INFO", "CGameRemoteConfig::CreateShortcuts", 790, "Stop creating shortcuts: source=" + source));
    } else {
      EXPECT_TRUE(LogHas(log, "INFO", "CGameRemoteConfig::CreateShortcuts", 818, "End CreateShortcuts"));
    }
    RunShell("rm -rf '" + home + "/.local' '" + home + "/Desktop'");
  }
}

}  // namespace
