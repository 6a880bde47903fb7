#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>

#include "os/InstanceLock.h"
#include "os/Prefix.h"
#include "os/Process.h"
#include "support/Sandbox.h"

using namespace os;

TEST(CommandLine, SplitFollowsTheWindowsRules) {
  struct Case {
    const char* line;
    std::vector<std::string> argv;
  } cases[] = {
      {"", {""}},
      {"prog", {"prog"}},
      {"\"C:\\Program Files\\l.exe\" --token=ab --winid=12", {"C:\\Program Files\\l.exe", "--token=ab", "--winid=12"}},
      {"p a\\\\b \"c d\" e\\\"f", {"p", "a\\\\b", "c d", "e\"f"}},
      {"p \"a\\\\\" b", {"p", "a\\", "b"}},
      {"p \"\" x", {"p", "", "x"}},
      {"p \"say \"\"hi\"\"\"", {"p", "say \"hi\""}},
      {"p   a\tb  ", {"p", "a", "b"}},
      {"p a;rm -rf x", {"p", "a;rm", "-rf", "x"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitCommandLine(c.line), c.argv) << c.line;
}

TEST(CommandLine, QuotingIsTheInverseOfSplitting) {
  std::vector<std::string> args = {"--token=ab", "",          "a b",    "x\"y",         "tail\\",
                                   "q\\\"",      "c:\\dir\\", "中文 x", "line\nfeed\v", "a\n b"};
  std::string line = "prog";
  for (const auto& a : args) line += " " + QuoteArgument(a);
  std::vector<std::string> expect = {"prog"};
  expect.insert(expect.end(), args.begin(), args.end());
  EXPECT_EQ(SplitCommandLine(line), expect);
  // Quotes only where the splitting rules need them: blanks, tabs, quotes, an empty argument.
  for (const char* plain : {"--winid=12", "--luapath=D:\\lua\n", "a\vb\r", "c:\\dir\\"})
    EXPECT_EQ(QuoteArgument(plain), plain) << "plain arguments stay exactly as given";
}

TEST(Processes, SpawnWaitAndFindByFullPath) {
  Sandbox box;
  std::string out = box.Root() + "/out.txt";
  int err = 0;
  pid_t pid = SpawnProcess("/bin/sh", "sh -c \"pwd > " + out + "; exec sleep 30\"", box.Root(), &err);
  ASSERT_GT(pid, 0) << err;
  usleep(200 * 1000);
  EXPECT_TRUE(IsExecutableRunning("/bin/sleep") || IsExecutableRunning("/usr/bin/sleep"));
  EXPECT_FALSE(IsExecutableRunning(box.Root() + "/sleep")) << "same file name elsewhere does not count";
  kill(pid, SIGKILL);
  EXPECT_EQ(WaitProcess(pid), -1);
  EXPECT_EQ(Sandbox::ReadFile(out), box.Root() + "\n");
  EXPECT_EQ(SpawnProcess(box.Root() + "/missing", "missing", box.Root(), &err), -1);
  EXPECT_EQ(err, ENOENT);
}

TEST(InstanceLock, SecondProcessIsRefusedUntilTheHolderDies) {
  Sandbox box;
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t holder = fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    InstanceLock lock;
    char ok = lock.Acquire("qvx") == InstanceLock::Result::Acquired ? 'y' : 'n';
    (void)!write(ready[1], &ok, 1);
    pause();
    _exit(0);
  }
  char ok = 0;
  ASSERT_EQ(read(ready[0], &ok, 1), 1);
  ASSERT_EQ(ok, 'y');
  InstanceLock mine;
  EXPECT_EQ(mine.Acquire("qvx"), InstanceLock::Result::AlreadyExists);
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  EXPECT_EQ(mine.Acquire("qvx"), InstanceLock::Result::Acquired);
  EXPECT_EQ(InstanceLock::LockPath("qvx"), box.Root() + "/runtime/qvx.lock");
}

// The lock lives where no other user can take it first: the runtime directory only when it is this
// user's private one, else the prefix (never a shared temporary directory).
TEST(InstanceLock, LivesInThePrivateRuntimeDirectoryElseInThePrefix) {
  Sandbox box;
  ASSERT_TRUE(EnsurePrefix());
  const std::string runtime = box.Root() + "/runtime";
  const std::string shared = box.Root() + "/shared";
  mkdir(shared.c_str(), 0777);
  chmod(shared.c_str(), 01777);
  const std::string readable = box.Root() + "/readable";
  mkdir(readable.c_str(), 0755);
  const std::string inPrefix = box.Prefix() + "/qvx.lock";
  struct Case {
    const char* runtimeDir;
    std::string lock;
  } cases[] = {
      {nullptr, inPrefix},
      {"", inPrefix},
      {runtime.c_str(), runtime + "/qvx.lock"},
      {shared.c_str(), inPrefix},
      {readable.c_str(), inPrefix},
      {"runtime", inPrefix},
      {"/nonexistent/runtime", inPrefix},
  };
  const char* tmp = getenv("TMPDIR");
  const std::string savedTmp = tmp ? tmp : "";
  unsetenv("TMPDIR");
  for (const Case& c : cases) {
    c.runtimeDir ? setenv("XDG_RUNTIME_DIR", c.runtimeDir, 1) : unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(InstanceLock::LockPath("qvx"), c.lock) << (c.runtimeDir ? c.runtimeDir : "(unset)");
  }
  unsetenv("XDG_RUNTIME_DIR");
  InstanceLock lock;
  ASSERT_EQ(lock.Acquire("qvx"), InstanceLock::Result::Acquired);
  struct stat st {};
  ASSERT_EQ(stat(inPrefix.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  if (tmp) setenv("TMPDIR", savedTmp.c_str(), 1);
}
