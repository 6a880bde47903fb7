#include <gtest/gtest.h>

#include <dirent.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <glib.h>

#include <csignal>
#include <set>
#include <string>
#include <vector>

#include "os/CodePage.h"
#include "os/FileSystem.h"
#include "os/Prefix.h"
#include "os/ShellFolders.h"
#include "support/Sandbox.h"

using namespace os;

TEST(FileSystem, PathPartsAndAtomicWrite) {
  struct Case {
    const char* path;
    const char* dir;
    const char* base;
  } cases[] = {{"/a/b/c", "/a/b", "c"}, {"/a/b/", "/a", "b"}, {"c", ".", "c"}, {"/c", "/", "c"}};
  for (const auto& c : cases) {
    EXPECT_EQ(DirName(c.path), c.dir) << c.path;
    EXPECT_EQ(BaseName(c.path), c.base) << c.path;
  }
  Sandbox box;
  std::string file = box.Root() + "/state.dat";
  ASSERT_EQ(WriteFileAtomically(file, "one"), 0);
  ASSERT_EQ(WriteFileAtomically(file, "two"), 0);
  EXPECT_EQ(Sandbox::ReadFile(file), "two");
  EXPECT_NE(WriteFileAtomically(box.Root() + "/missing/state.dat", "x"), 0);
  EXPECT_EQ(MakeDirectory(box.Root() + "/x/y"), ENOENT) << "one level only";
  EXPECT_EQ(MakeDirectories(box.Root() + "/x/y"), 0);
}

namespace {

std::set<std::string> Entries(const std::string& dir) {
  std::set<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (const dirent* e = readdir(d)) {
      const std::string name = e->d_name;
      if (name != "." && name != "..") names.insert(name);
    }
    closedir(d);
  }
  return names;
}

}  // namespace

// A failed write leaves the previous content and no temporary file behind.
TEST(FileSystem, FailedAtomicWriteKeepsTheOldFile) {
  Sandbox box;
  const std::string dir = box.Root() + "/state";
  const std::string file = dir + "/state.dat";
  ASSERT_EQ(MakeDirectory(dir), 0);
  ASSERT_EQ(WriteFileAtomically(file, "old content"), 0);

  // The write itself fails: the file size limit stops it halfway (in a child, so the limit
  // stays there).
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4, 4};
    setrlimit(RLIMIT_FSIZE, &limit);
    _exit(WriteFileAtomically(file, "new and longer content") == EFBIG ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the write did not fail with EFBIG";
  EXPECT_EQ(Sandbox::ReadFile(file), "old content");

  // The rename fails: a non-empty directory stands where the file should go.
  const std::string busy = dir + "/busy";
  ASSERT_EQ(MakeDirectory(busy), 0);
  Sandbox::WriteFile(busy + "/inside", "x");
  EXPECT_NE(WriteFileAtomically(busy, "x"), 0);
  EXPECT_TRUE(IsDirectory(busy));

  EXPECT_EQ(Entries(dir), (std::set<std::string>{"state.dat", "busy"}));
  ASSERT_EQ(WriteFileAtomically(file, "new"), 0);
  EXPECT_EQ(Sandbox::ReadFile(file), "new");
  EXPECT_EQ(Entries(dir), (std::set<std::string>{"state.dat", "busy"}));
}

TEST(Prefix, DrivesAndContainment) {
  Sandbox box;
  EXPECT_FALSE(DriveExists('C'));
  ASSERT_TRUE(EnsurePrefix());
  EXPECT_TRUE(DriveExists('C'));
  EXPECT_FALSE(DriveExists('D'));
  EXPECT_EQ(DriveRoot('C'), box.Prefix() + "/drive_c");
  EXPECT_TRUE(IsInsidePrefix(box.Prefix() + "/drive_c/qvx-harlu7"));
  EXPECT_FALSE(IsInsidePrefix(box.Prefix()));
  EXPECT_FALSE(IsInsidePrefix(box.Prefix() + "/drive_c/../../outside"));
  EXPECT_FALSE(IsInsidePrefix("/tmp"));
  EXPECT_FALSE(IsInsidePrefix("relative/path"));
  // A symlink inside the prefix that points outside does not count as inside.
  ASSERT_EQ(symlink(box.Root().c_str(), (box.Prefix() + "/drive_c/escape").c_str()), 0);
  EXPECT_FALSE(IsInsidePrefix(box.Prefix() + "/drive_c/escape/home"));
}

// Whole trees may go only strictly inside the prefix, and never a drive root or the registry,
// however the path is written.
TEST(Prefix, TreesThatMayBeRemoved) {
  Sandbox box;
  box.MakeDrives(true);
  const std::string p = box.Prefix();
  MakeDirectories(p + "/drive_c/qvx-harlu7/client");
  MakeDirectories(p + "/registry");
  ASSERT_EQ(symlink((p + "/drive_c").c_str(), (p + "/drive_c/qvx-harlu7/alias").c_str()), 0);
  ASSERT_EQ(symlink(box.Root().c_str(), (p + "/drive_c/escape").c_str()), 0);
  // "lnk/.." is the parent of the link's target, not the prefix: text is never taken for the file
  // system.
  MakeDirectories(box.Root() + "/elsewhere/deeper");
  MakeDirectories(box.Root() + "/elsewhere/x");
  ASSERT_EQ(symlink((box.Root() + "/elsewhere/deeper").c_str(), (p + "/lnk").c_str()), 0);
  MakeDirectories(p + "/x");
  struct Case {
    std::string path;
    bool allowed;
  } cases[] = {
      {p + "/drive_c/qvx-harlu7", true},
      {p + "/drive_c/qvx-harlu7/client", true},
      {p + "/drive_c/not-there-yet", true},
      {p + "/drive_c", false},
      {p + "/drive_c/", false},
      {p + "/drive_c/qvx-harlu7/..", false},
      {p + "/drive_c/qvx-harlu7/alias", false},
      {p + "/drive_d", false},
      {p + "/registry", false},
      {p + "/registry/../drive_c", false},
      {p, false},
      {p + "/drive_c/escape", false},
      {box.Root() + "/home", false},
      {"drive_c/qvx-harlu7", false},
      {p + "/lnk/../x", false},
      {p + "/lnk/../x/client", false},
      {p + "/lnk/../../prefix/x", true},
      {p + "/drive_c/escape/prefix/x", true},
  };
  for (const Case& c : cases) EXPECT_EQ(MayRemoveTree(c.path), c.allowed) << c.path;
  // What is removed is the resolved path.
  EXPECT_EQ(RemovableTree(p + "/lnk/../../prefix/x"), RemovableTree(p + "/x"));
  EXPECT_EQ(RemovableTree(p + "/drive_c/qvx-harlu7/./client/"), RemovableTree(p + "/drive_c/qvx-harlu7/client"));
  EXPECT_FALSE(RemovableTree(p + "/x").empty());
}

TEST(CodePage, Utf16AndCaseRules) {
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16("a中\U0001F600")), "a中\U0001F600");
  EXPECT_EQ(Utf16Length("a中\U0001F600"), 4u);
  EXPECT_EQ(TruncateUtf16("a中\U0001F600", 3), "a中") << "a surrogate pair is never split";
  EXPECT_TRUE(EqualsNoCase("/UNINSTALL", "/uninstall"));
  EXPECT_FALSE(EqualsNoCase("/uninstall x", "/uninstall"));
}

TEST(ShellFolders, DesktopEntryQuotesTargetAndArguments) {
  Sandbox box;
  std::string link = box.Root() + "/qvx-uninstall.desktop";
  ASSERT_EQ(CreateLinkFile("/opt/my games/qvx_a$b", link, "/uninstall"), 0);
  std::string text = Sandbox::ReadFile(link);
  EXPECT_NE(text.find("Type=Application\n"), std::string::npos);
  EXPECT_NE(text.find("Name=qvx-uninstall\n"), std::string::npos);
  EXPECT_NE(text.find("Exec=\"/opt/my games/qvx_a\\\\$b\" /uninstall\n"), std::string::npos) << text;
  struct stat st;
  ASSERT_EQ(stat(link.c_str(), &st), 0);
  EXPECT_TRUE(st.st_mode & S_IXUSR);
}

// Without HOME the home directory is the account's own (never a shared directory such as /tmp);
// an XDG_DATA_HOME that is not absolute is ignored, as the XDG rules say.
TEST(Prefix, HomeComesFromThePasswordDatabaseWithoutHome) {
  Sandbox box;
  const struct passwd* account = getpwuid(geteuid());
  ASSERT_NE(account, nullptr);
  const std::string own = account->pw_dir;
  struct Case {
    const char* home;
    const char* dataHome;
    std::string prefix;
    std::string startMenu;
  } cases[] = {
      {nullptr, nullptr, own + "/.local/share/vellmora", own + "/.local/share/applications"},
      {"", nullptr, own + "/.local/share/vellmora", own + "/.local/share/applications"},
      {"relative", "also/relative", own + "/.local/share/vellmora", own + "/.local/share/applications"},
      {"/h", nullptr, "/h/.local/share/vellmora", "/h/.local/share/applications"},
      {nullptr, "/d", "/d/vellmora", "/d/applications"},
  };
  unsetenv("VELLMORA_PREFIX");
  for (const Case& c : cases) {
    c.home ? setenv("HOME", c.home, 1) : unsetenv("HOME");
    c.dataHome ? setenv("XDG_DATA_HOME", c.dataHome, 1) : unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(PrefixDir(), c.prefix) << (c.home ? c.home : "(no HOME)");
    EXPECT_EQ(StartMenuDir(), c.startMenu) << (c.home ? c.home : "(no HOME)");
  }
}

namespace {

// The argument vector a desktop reads back from a link's Exec line: the key file's value
// unescaped, "%%" turned back into "%", then the quoting (inside double quotes a backslash escapes
// '"', '`', '$' and '\', as in a shell).
std::vector<std::string> ExecArgv(const std::string& linkPath, std::string* name) {
  std::vector<std::string> out;
  GKeyFile* file = g_key_file_new();
  if (!g_key_file_load_from_file(file, linkPath.c_str(), G_KEY_FILE_NONE, nullptr)) {
    g_key_file_free(file);
    return out;
  }
  gchar* exec = g_key_file_get_string(file, G_KEY_FILE_DESKTOP_GROUP, G_KEY_FILE_DESKTOP_KEY_EXEC, nullptr);
  gchar* n = g_key_file_get_string(file, G_KEY_FILE_DESKTOP_GROUP, G_KEY_FILE_DESKTOP_KEY_NAME, nullptr);
  *name = n ? n : "";
  std::string line = exec ? exec : "";
  for (size_t p = 0; (p = line.find("%%", p)) != std::string::npos; ++p) line.erase(p, 1);
  gchar** argv = nullptr;
  if (g_shell_parse_argv(line.c_str(), nullptr, &argv, nullptr)) {
    for (gchar** a = argv; *a; ++a) out.emplace_back(*a);
    g_strfreev(argv);
  }
  g_free(exec);
  g_free(n);
  g_key_file_free(file);
  return out;
}

}  // namespace

// Whatever the names and paths hold, the link reads back as the same name and argument vector,
// and the desktop's own validator accepts it.
TEST(ShellFolders, DesktopEntriesReadBackAndValidate) {
  Sandbox box;
  struct Case {
    std::string linkName, target, arguments;
    std::vector<std::string> argv;
  } cases[] = {
      {"Vellmora", "/opt/games/qvx", "", {"/opt/games/qvx"}},
      {"100% fun", "/opt/100% fun/qvx", "--rate=50%", {"/opt/100% fun/qvx", "--rate=50%"}},
      {"维尔莫拉 启动", "/home/玩家/游戏/qvx", "/uninstall", {"/home/玩家/游戏/qvx", "/uninstall"}},
      {" lead", "/opt/a\\b/`q`/\"x\"", "--a=\"x y\" --b", {"/opt/a\\b/`q`/\"x\"", "--a=x y", "--b"}},
      {"tab\there", "/opt/q$HOME/qvx", "'$x' ;rm", {"/opt/q$HOME/qvx", "$x", ";rm"}},
  };
  const bool validator = RunShell("command -v desktop-file-validate >/dev/null 2>&1") == 0;
  for (const Case& c : cases) {
    const std::string link = box.Root() + "/" + c.linkName + ".desktop";
    ASSERT_EQ(CreateLinkFile(c.target, link, c.arguments), 0) << c.linkName;
    std::string name;
    EXPECT_EQ(ExecArgv(link, &name), c.argv) << Sandbox::ReadFile(link);
    EXPECT_EQ(name, c.linkName);
    if (validator) {
      EXPECT_EQ(RunShell("desktop-file-validate '" + link + "' >&2"), 0) << Sandbox::ReadFile(link);
    }
  }
  if (!validator) GTEST_SKIP() << "desktop-file-validate is not installed (scripts/install-deps)";
}
