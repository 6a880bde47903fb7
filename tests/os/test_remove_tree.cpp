#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "os/FileSystem.h"
#include "os/RemoveTree.h"
#include "support/Sandbox.h"

using namespace os;

namespace {

size_t IndexOf(const std::vector<std::string>& list, const std::string& item) {
  return static_cast<size_t>(std::find(list.begin(), list.end(), item) - list.begin());
}

}  // namespace

TEST(RemoveTree, RemovesLinksAsLinksAndReportsEachDirectoryBeforeEnteringIt) {
  Sandbox box;
  const std::string tree = box.Root() + "/tree";
  const std::string target = box.Root() + "/target";
  MakeDirectories(tree + "/a/b/c");
  MakeDirectories(tree + "/empty");
  MakeDirectories(target + "/inner");
  Sandbox::WriteFile(tree + "/a/b/c/f", "x");
  Sandbox::WriteFile(tree + "/.dot", "x");
  Sandbox::WriteFile(target + "/t", "keep");
  Sandbox::WriteFile(target + "/inner/u", "keep");
  ASSERT_EQ(symlink(target.c_str(), (tree + "/a/dirlink").c_str()), 0);
  ASSERT_EQ(symlink((target + "/t").c_str(), (tree + "/filelink").c_str()), 0);
  ASSERT_EQ(symlink("/nonexistent", (tree + "/dangling").c_str()), 0);
  ASSERT_EQ(mkfifo((tree + "/a/fifo").c_str(), 0600), 0);

  std::vector<std::string> entered;
  EXPECT_TRUE(RemoveTree(tree, [&](const std::string& dir) { entered.push_back(dir); }));
  EXPECT_FALSE(PathExists(tree));
  EXPECT_EQ(Sandbox::ReadFile(target + "/t"), "keep");
  EXPECT_EQ(Sandbox::ReadFile(target + "/inner/u"), "keep");

  ASSERT_FALSE(entered.empty());
  EXPECT_EQ(entered.front(), tree);
  for (const char* dir : {"/a", "/a/b", "/a/b/c", "/empty"}) {
    EXPECT_LT(IndexOf(entered, tree + dir), entered.size()) << dir;
  }
  EXPECT_LT(IndexOf(entered, tree + "/a"), IndexOf(entered, tree + "/a/b"));
  EXPECT_LT(IndexOf(entered, tree + "/a/b"), IndexOf(entered, tree + "/a/b/c"));
  EXPECT_EQ(entered.size(), 5u) << "a link is never entered";
}

// Only a directory is removed: a link, even written with a trailing slash, or a file there is
// left as it is.
TEST(RemoveTree, AnythingButADirectoryIsLeftAlone) {
  Sandbox box;
  const std::string target = box.Root() + "/target";
  MakeDirectories(target);
  Sandbox::WriteFile(target + "/t", "keep");
  const std::string link = box.Root() + "/link";
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  const std::string file = box.Root() + "/file";
  Sandbox::WriteFile(file, "keep");

  for (const std::string& path : {box.Root() + "/missing", link, link + "/", link + "//", file}) {
    EXPECT_FALSE(RemoveTree(path)) << path;
  }
  EXPECT_EQ(Sandbox::ReadFile(target + "/t"), "keep");
  EXPECT_EQ(Sandbox::ReadFile(file), "keep");
  struct stat st {};
  EXPECT_EQ(lstat(link.c_str(), &st), 0);
}

// Root deletes regardless of permissions, so the removal runs in a child that gives up root's
// rights when it has them (the tree then belongs to the unprivileged user). The child exits with
// 1 or 0 for the answer, or 2 when permissions cannot be made to apply.
static int RemoveTreeWithoutPrivileges(const std::string& sandbox, const std::string& tree,
                                       const std::vector<std::string>& entries, const std::string& probe) {
  const pid_t child = fork();
  if (child < 0) return 2;
  if (child == 0) {
    if (geteuid() == 0) {
      const uid_t nobody = 65534;
      chmod(sandbox.c_str(), 0711);
      for (const std::string& entry : entries) {
        if (lchown(entry.c_str(), nobody, nobody) != 0) _exit(2);
      }
      if (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0) _exit(2);
    }
    const int fd = open(probe.c_str(), O_CREAT | O_WRONLY, 0600);
    if (fd >= 0) _exit(2);
    _exit(RemoveTree(tree) ? 1 : 0);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return 2;
  return WEXITSTATUS(status);
}

TEST(RemoveTree, AnEntryThatCannotBeDeletedKeepsItsDirectoriesAndAnswersFalse) {
  Sandbox box;
  const std::string tree = box.Root() + "/tree";
  MakeDirectories(tree + "/locked");
  MakeDirectories(tree + "/other/deep");
  Sandbox::WriteFile(tree + "/locked/f", "x");
  Sandbox::WriteFile(tree + "/other/deep/g", "x");
  Sandbox::WriteFile(tree + "/h", "x");
  std::vector<std::string> entries;
  for (const char* e : {"", "/locked", "/locked/f", "/other", "/other/deep", "/other/deep/g", "/h"}) {
    entries.push_back(tree + e);
  }
  ASSERT_EQ(chmod((tree + "/locked").c_str(), 0555), 0);

  const int answer = RemoveTreeWithoutPrivileges(box.Root(), tree, entries, tree + "/locked/probe");
  chmod((tree + "/locked").c_str(), 0755);
  if (answer == 2) GTEST_SKIP() << "directory permissions cannot be made to apply here";
  EXPECT_EQ(answer, 0);
  EXPECT_EQ(Sandbox::ReadFile(tree + "/locked/f"), "x");
  // Everything else went.
  EXPECT_FALSE(PathExists(tree + "/other"));
  EXPECT_FALSE(PathExists(tree + "/h"));
}
