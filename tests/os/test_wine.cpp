// Windows builds through Wine: recognising a Windows executable, choosing the Wine program and the
// environment it gets, Wine's registry file, and the processes of a prefix (Wine's server, a
// Windows program that runs). Wine itself is not needed: processes stand in for its.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "os/FileSystem.h"
#include "os/PeImage.h"
#include "os/Process.h"
#include "os/WineRegistryFile.h"
#include "os/WineRunner.h"
#include "support/Sandbox.h"
#include "support/WindowsExecutable.h"
#include "unreadable.h"

namespace {

std::string Executable(const std::string& path, const std::string& content = "#!/bin/sh\n") {
  Sandbox::WriteFile(path, content);
  chmod(path.c_str(), 0755);
  return path;
}

// A process that sleeps under the given argv[0] (what Wine shows for the program it runs).
struct Sleeper {
  Sleeper(const std::string& name, const std::string& cwd = std::string()) {
    pid = os::SpawnProgram("/bin/sleep", {name, "30"}, cwd);
    // The spawn returns while the new program's arguments may not be in place yet.
    const std::string cmdline = "/proc/" + std::to_string(pid) + "/cmdline";
    for (int i = 0; i < 200 && pid > 0 && Sandbox::ReadFile(cmdline).rfind(name + '\0', 0) != 0; ++i) usleep(10000);
  }
  ~Sleeper() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      os::WaitProcess(pid);
    }
  }
  pid_t pid;
};

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out += static_cast<char>(v);
  return out;
}

std::string Utf16z(const std::u16string& text) {
  std::string out;
  for (char16_t c : text + u'\0') out += Bytes({c & 0xFF, c >> 8});
  return out;
}

}  // namespace

TEST(PeImage, OnlyAnMzHeaderPointingAtAPeSignatureCounts) {
  Sandbox box;
  const std::string header = SmallestWindowsExecutable().substr(0, 0x40);  // the MZ header alone
  const std::string pe = SmallestWindowsExecutable() + std::string(64, '\0');
  std::string intoHeader = pe;
  intoHeader[0x3C] = 0x04;
  std::string farAway = pe;
  farAway[0x3E] = 0x7F;
  struct Case {
    const char* name;
    std::string content;
    bool windows;
  } cases[] = {
      {"pe", pe, true},
      {"mz-only", "MZ", false},
      {"offset past the end", header, false},
      {"wrong signature", header + std::string("PE\0\1", 4), false},
      {"offset inside the mz header", intoHeader, false},
      {"offset far away", farAway, false},
      {"elf",
       "\x7f"
       "ELF" +
           std::string(60, '\0'),
       false},
      {"empty", "", false},
  };
  for (const Case& c : cases) {
    const std::string path = box.Root() + "/" + c.name;
    Sandbox::WriteFile(path, c.content);
    EXPECT_EQ(os::IsWindowsExecutable(path), c.windows) << c.name;
  }
  EXPECT_FALSE(os::IsWindowsExecutable(box.Root() + "/missing"));
  EXPECT_FALSE(os::IsWindowsExecutable(box.Root()));
}

TEST(WineRunner, ConfiguredProgramElseWineOnPath) {
  Sandbox box;
  const std::string bin1 = box.Root() + "/bin1", bin2 = box.Root() + "/bin2", bin3 = box.Root() + "/bin3";
  for (const std::string& d : {bin1, bin2, bin3}) os::MakeDirectories(d);
  Executable(bin1 + "/wine");
  Sandbox::WriteFile(bin2 + "/wine", "not executable");
  Executable(bin3 + "/mywine");
  const std::string both = bin2 + ":" + bin1, none = bin2 + "::" + bin3;
  struct Case {
    const char* configured;
    const std::string* path;
    std::string expected;
  } cases[] = {
      {nullptr, &both, bin1 + "/wine"},
      {"", &both, bin1 + "/wine"},
      {nullptr, &none, ""},
      {nullptr, nullptr, ""},
      {"mywine", &none, bin3 + "/mywine"},
      {"/nonexistent/wine", &both, ""},  // a configured Wine is never swapped for another
  };
  for (const Case& c : cases) {
    EXPECT_EQ(os::SelectWineRunner(c.configured, c.path ? c.path->c_str() : nullptr), c.expected)
        << (c.configured ? c.configured : "(unset)") << " PATH=" << (c.path ? *c.path : "(unset)");
  }
  const std::string absolute = bin3 + "/mywine", notExecutable = bin2 + "/wine";
  EXPECT_EQ(os::SelectWineRunner(absolute.c_str(), both.c_str()), absolute);
  EXPECT_EQ(os::SelectWineRunner(notExecutable.c_str(), both.c_str()), "");
  EXPECT_EQ(os::SelectWineRunner(bin1.c_str(), both.c_str()), "") << "a directory";
}

TEST(WineRunner, EnvironmentAddsOnlyThePrefixAndQuietDiagnostics) {
  Sandbox box;
  box.MakeDrives(true);
  const std::string prefix = box.Prefix();
  const std::string prefixEntry = "WINEPREFIX=" + prefix;
  struct Case {
    std::vector<std::string> base, expected;
  } cases[] = {
      {{"PATH=/bin", "HOME=/h"}, {"PATH=/bin", "HOME=/h", prefixEntry, "WINEDEBUG=-all"}},
      {{"WINEPREFIX=/other", "A=1"}, {prefixEntry, "A=1", "WINEDEBUG=-all"}},
      {{"WINEDEBUG=+relay", "WINEPREFIXES=x"}, {"WINEDEBUG=+relay", "WINEPREFIXES=x", prefixEntry}},
  };
  for (const Case& c : cases) EXPECT_EQ(os::WineEnvironment(c.base, prefix), c.expected);
  EXPECT_EQ(os::WineEnvironment({}, prefix + "/drive_c/..")[0], prefixEntry) << "Wine wants a plain absolute path";
}

// A stand-in for Wine records how it was started: its arguments, working directory and the
// variables Wine reads.
TEST(WineRunner, SpawnAndPreparationCallTheRunner) {
  Sandbox box;
  box.MakeDrives(true);
  const std::string record = box.Root() + "/record";
  const std::string runner = Executable(box.Root() + "/wine",
                                        "#!/bin/sh\n"
                                        "{ printf '%s|' \"$@\"; echo; pwd -P; echo \"$WINEPREFIX $WINEDEBUG\"; } >> '" +
                                            record +
                                            "'\n"
                                            "echo 'noise from wine'\n"
                                            "[ \"$1\" = wineboot ] && exit 3\nexit 0\n");
  const std::string gameDir = box.DriveC() + "/game dir";
  os::MakeDirectories(gameDir);
  const pid_t pid =
      os::SpawnThroughWine(runner, gameDir + "/qvx.exe", {"--token=ab", "a b", ""}, gameDir, box.Prefix());
  ASSERT_GT(pid, 0);
  EXPECT_EQ(os::WaitProcess(pid), 0);
  EXPECT_EQ(os::PrepareWinePrefix(runner, box.Prefix()), 3);
  EXPECT_EQ(os::PrepareWinePrefix(box.Root() + "/missing", box.Prefix()), -1);

  EXPECT_EQ(Sandbox::ReadFile(record), gameDir + "/qvx.exe|--token=ab|a b||\n" + gameDir + "\n" + box.Prefix() +
                                           " -all\n" + "wineboot|\n" + box.Prefix() + "\n" + box.Prefix() + " -all\n");
}

TEST(WineRegistryFile, ReadsEveryStoredFormCaseInsensitively) {
  const os::WineRegistryFile file =
      os::WineRegistryFile::Load(std::string(VELLMORA_SOURCE_DIR) + "/tests/data/wine-user.reg");
  const std::string key = "SOFTWARE\\qrd\\Vellmora";
  struct Case {
    std::string key, name;
    std::optional<std::string> data;
  } cases[] = {
      {key, "Screenmanager Resolution Height_h2627697771", Bytes({0x32, 0, 0, 0})},
      {"software\\QRD\\vellmora", "Screenmanager Resolution Width Default_h680557497", Bytes({0, 5, 0, 0})},
      {key, "Screenmanager Resolution Width_h182942802", Bytes({0x64, 0, 0, 0, 0})},  // continued line
      {key, "T\xc3\xa9st \"q\"", Utf16z(u"x")},
      {key, "Folder", Utf16z(u"%USERPROFILE%\\x")},
      {"Control Panel\\Desktop\\WindowMetrics", "Shell Icon Size", Utf16z(u"32")},
      {key, "Screenmanager Resolution Height Default_h1380706816", std::nullopt},  // the subkey's value
      {key, "missing", std::nullopt},
      {"Software\\qrd\\Other", "Screenmanager Resolution Height_h2627697771", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(file.ValueData(c.key, c.name), c.data) << c.key << " " << c.name;
  EXPECT_TRUE(file.HasKey(key));
  EXPECT_TRUE(file.HasKey("Software\\qrd")) << "a key holding only subkeys";
  EXPECT_FALSE(file.HasKey("Software\\qr"));
}

TEST(WineRegistryFile, SetDwordRewritesOneValueOfAnExistingKeyAndNothingElse) {
  Sandbox box;
  const std::string original = Sandbox::ReadFile(std::string(VELLMORA_SOURCE_DIR) + "/tests/data/wine-user.reg");
  const std::string key = "Software\\QRD\\Vellmora";
  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string text = original;
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
  };

  os::WineRegistryFile file(original);
  EXPECT_EQ(file.Text(), original);
  ASSERT_TRUE(file.SetDword(key, "screenmanager resolution width_h182942802", 1280));
  EXPECT_EQ(file.Text(), replaced("\"Screenmanager Resolution Width_h182942802\"=hex:64,00,00,00,\\\n  00\n",
                                  "\"screenmanager resolution width_h182942802\"=dword:00000500\n"));
  EXPECT_EQ(file.ValueData(key, "Screenmanager Resolution Width_h182942802"), Bytes({0, 5, 0, 0}));

  os::WineRegistryFile added(original);
  ASSERT_TRUE(added.SetDword(key, "New \"one\" \xc3\xa9", 720));
  EXPECT_EQ(added.Text(), replaced("\"Folder\"=str(2):\"%USERPROFILE%\\\\x\"\n",
                                   "\"Folder\"=str(2):\"%USERPROFILE%\\\\x\"\n"
                                   "\"New \\\"one\\\" \\x00e9\"=dword:000002d0\n"));
  EXPECT_EQ(added.ValueData(key, "NEW \"ONE\" \xc3\xa9"), Bytes({0xd0, 2, 0, 0}));

  os::WineRegistryFile untouched(original);
  EXPECT_FALSE(untouched.SetDword("Software\\qrd\\Other", "x", 1));
  EXPECT_EQ(untouched.Text(), original);

  // A key with only subkeys exists: it gets the section Wine writes for a key with values.
  os::WineRegistryFile parent(original);
  ASSERT_TRUE(parent.SetDword("Software\\qrd", "x", 1));
  EXPECT_EQ(parent.ValueData("software\\qrd", "X"), Bytes({1, 0, 0, 0}));

  const std::string path = box.Root() + "/user.reg";
  ASSERT_EQ(file.Save(path), 0);
  EXPECT_EQ(Sandbox::ReadFile(path), file.Text());
  EXPECT_EQ(os::WineRegistryFile::Load(box.Root() + "/missing.reg").Text(), "");
}

// A user.reg that exists but cannot be read in full is never saved over: the values the load
// missed would be gone from the prefix for good. A missing one is an empty file that saves.
TEST(WineRegistryFile, AFileThatCannotBeReadIsNeverSavedOver) {
  Sandbox box;
  const std::string text = Sandbox::ReadFile(std::string(VELLMORA_SOURCE_DIR) + "/tests/data/wine-user.reg");
  const std::string unreadable = box.Root() + "/dir/user.reg";
  os::MakeDirectories(box.Root() + "/dir");
  Sandbox::WriteFile(unreadable, text);
  const std::string failing = box.Root() + "/failing.reg";
  ASSERT_EQ(symlink("/proc/self/mem", failing.c_str()), 0);  // address 0 is never mapped: EIO

  std::optional<os::WineRegistryFile> file;
  {
    UnreadableFile noAccess(box.Root(), unreadable);
    file = os::WineRegistryFile::Load(unreadable);
  }
  EXPECT_FALSE(file->HasKey("Software\\qrd\\Vellmora"));
  EXPECT_EQ(file->Save(unreadable), EACCES);
  chmod(unreadable.c_str(), 0600);
  EXPECT_EQ(Sandbox::ReadFile(unreadable), text);

  EXPECT_EQ(os::WineRegistryFile::Load(failing).Save(failing), EIO);
  struct stat st {};
  ASSERT_EQ(lstat(failing.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode)) << "replaced by a save";

  const std::string missing = box.Root() + "/missing.reg";
  EXPECT_EQ(os::WineRegistryFile::Load(missing).Save(missing), 0);
  EXPECT_TRUE(os::PathExists(missing));
}

TEST(WineProcesses, AWindowsProgramIsRecognisedByTheNameWineShows) {
  Sandbox box;
  box.MakeDrives(true);
  const std::string gameDir = box.DriveC() + "/qvx-harlu7/client/qvx";
  os::MakeDirectories(gameDir);
  os::MakeDirectories(box.Prefix() + "/dosdevices");
  ASSERT_EQ(symlink("../drive_c", (box.Prefix() + "/dosdevices/c:").c_str()), 0);
  const std::string game = gameDir + "/qvx.exe";
  Sandbox::WriteFile(game, "MZ");
  const std::string elsewhere = box.Root() + "/qvx.exe";
  Sandbox::WriteFile(elsewhere, "MZ");

  EXPECT_FALSE(os::IsWindowsProgramRunning(game, box.Prefix()));
  struct Case {
    std::string argv0, cwd;
    bool running;
  } cases[] = {
      {game, "", true},
      {"C:\\qvx-harlu7\\client\\qvx\\qvx.exe", "", true},
      {"qvx.exe", gameDir, true},
      {elsewhere, "", false},
      {"qvx.exe", box.Root() + "/..", false},
  };
  for (const Case& c : cases) {
    Sleeper process(c.argv0, c.cwd);
    ASSERT_GT(process.pid, 0);
    bool error = true;
    EXPECT_EQ(os::IsWindowsProgramRunning(game, box.Prefix(), &error), c.running) << c.argv0 << " in " << c.cwd;
    EXPECT_FALSE(error);
  }
}

TEST(WineProcesses, TheServerOfAPrefixIsFoundByItsDirectory) {
  Sandbox box;
  box.MakeDrives(true);
  struct stat st;
  ASSERT_EQ(stat(box.Prefix().c_str(), &st), 0);
  char name[64];
  std::snprintf(name, sizeof name, "server-%llx-%llx", static_cast<unsigned long long>(st.st_dev),
                static_cast<unsigned long long>(st.st_ino));
  const std::string serverDir = box.Root() + "/wine-tmp/" + name;
  const std::string otherDir = box.Root() + "/wine-tmp/server-1-2";
  os::MakeDirectories(serverDir);
  os::MakeDirectories(otherDir);

  {
    Sleeper other("wineserver", otherDir);
    EXPECT_FALSE(os::IsWineServerRunning(box.Prefix())) << "another prefix's server";
    Sleeper server("wineserver", serverDir);
    EXPECT_TRUE(os::IsWineServerRunning(box.Prefix()));
    EXPECT_FALSE(os::WaitForWineServerExit(box.Prefix(), 200));
  }
  EXPECT_TRUE(os::WaitForWineServerExit(box.Prefix(), 2000));
}
