#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "os/base/LogFile.h"
#include "support/Sandbox.h"

// How each kind of path opens, with and without creating, and what the file holds afterwards: a
// link is never followed, not even to create its target.
TEST(LogFile, OpenOutcomesByPath) {
  Sandbox box;
  const std::string root = box.Root();
  Sandbox::WriteFile(root + "/existing.log", "old\n");
  Sandbox::WriteFile(root + "/target.log", "target\n");
  ASSERT_EQ(symlink((root + "/target.log").c_str(), (root + "/link.log").c_str()), 0);
  ASSERT_EQ(symlink((root + "/absent-target.log").c_str(), (root + "/dangling.log").c_str()), 0);
  std::filesystem::create_directories(root + "/dir.log");
  using Opened = os::LogFile::Opened;
  struct Case {
    std::string name;
    bool create;
    Opened opened;
    bool directoryExists;
  };
  const Case cases[] = {
      {"existing.log", false, Opened::Yes, true},      {"missing.log", false, Opened::Missing, true},
      {"no-dir/x.log", false, Opened::Missing, false}, {"no-dir/x.log", true, Opened::Missing, false},
      {"link.log", false, Opened::Failed, true},       {"link.log", true, Opened::Failed, true},
      {"dangling.log", true, Opened::Failed, true},    {"dir.log", true, Opened::Failed, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name + (c.create ? " (create)" : ""));
    os::LogFile file;
    EXPECT_EQ(file.Open(root + "/" + c.name, c.create), c.opened);
    EXPECT_EQ(file.IsOpen(), c.opened == Opened::Yes);
    EXPECT_EQ(os::LogFile::DirectoryExists(root + "/" + c.name), c.directoryExists);
  }
  EXPECT_EQ(Sandbox::ReadFile(root + "/target.log"), "target\n");
  EXPECT_FALSE(std::filesystem::exists(root + "/absent-target.log"));
  EXPECT_FALSE(std::filesystem::exists(root + "/missing.log"));
}

// Restart makes an existing file private and empty; appends land at the end even after someone
// else shortened the file.
TEST(LogFile, RestartEmptiesAndAppendsLandAtTheEnd) {
  Sandbox box;
  const std::string path = box.Root() + "/run.log";
  Sandbox::WriteFile(path, "previous run\n");
  ASSERT_EQ(chmod(path.c_str(), 0644), 0);
  os::LogFile file;
  ASSERT_EQ(file.Open(path, false), os::LogFile::Opened::Yes);
  file.Restart();
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(st.st_size, 0);
  EXPECT_TRUE(file.Append("one\n", 4));
  ASSERT_EQ(truncate(path.c_str(), 2), 0);
  EXPECT_TRUE(file.Append("two\n", 4));
  EXPECT_EQ(Sandbox::ReadFile(path), "ontwo\n");
  file.Close();
  EXPECT_FALSE(file.Append("three\n", 6));
}
