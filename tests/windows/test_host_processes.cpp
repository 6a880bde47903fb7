// Processes on Windows against the real system: the game's command line as a started program
// receives and splits it, the instance lock seen from a second process, waiting for and finding
// started processes, and the minidump a crash leaves.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "WinTestFolder.h"
#include "os/CrashHandler.h"
#include "os/FileSystem.h"
#include "os/InstanceLock.h"
#include "os/Process.h"

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    out.push_back(text.substr(start, end - start));
  return out;
}

// Starts the probe with the command line "<program token> <arguments> <file>" in cwd and returns
// what it wrote: the line as reported, the argument string, the working directory, the arguments.
std::vector<std::string> RunProbe(const std::string& programToken, const std::string& arguments,
                                  const std::string& file, const std::string& cwd, std::string& commandLine) {
  commandLine = programToken + " argv " + arguments + (arguments.empty() ? "" : " ") + os::QuoteArgument(file);
  int error = 0;
  const os::ProcessId pid = os::SpawnProcess(BesideThisProgram("host_probe.exe"), commandLine, cwd, &error);
  EXPECT_GT(pid, 0) << error;
  if (pid <= 0) return {};
  EXPECT_EQ(os::WaitProcess(pid), 0);
  std::string text;
  EXPECT_TRUE(os::ReadFile(file, text));
  return Lines(text);
}

}  // namespace

// The game's command line: the launcher's own line with its program token as written (quoted,
// with blanks), the platform's parameters, then the login parameters and the extra parameters.
// What the game receives is the line unchanged, and the system splits it as SplitCommandLine does.
TEST(ProcessWindows, TheGameReceivesItsCommandLineUnchangedAndSplitsItLikeSplitCommandLine) {
  WinTestFolder dir;
  const std::string gameDir = dir / "qvx";
  ASSERT_EQ(os::MakeDirectories(gameDir), 0);
  struct Case {
    const char* programToken;
    const char* arguments;
  };
  const Case cases[] = {
      {"\"C:\\Program Files\\qvx-harlu7\\qvx.exe\"", "token=ab winid=12 --parameters=p=1 --plat_extra="},
      {"C:\\qvx-harlu7\\qvx.exe", "source=FC --parameters=a=1&b=2 --plat_extra=-x --luapath=D:\\lua"},
      // Quotes and backslashes inside arguments, and an empty argument, by the quoting rules.
      {"qvx.exe", "a\\\\b \"c d\" \"e\\\"f\" \"\" g\\\\\\\"h \"trailing\\\\\\\\\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    const std::string file = dir / "argv.txt";
    std::string commandLine;
    const std::vector<std::string> got = RunProbe(c.programToken, c.arguments, file, gameDir, commandLine);
    ASSERT_GE(got.size(), 4u);
    EXPECT_EQ(got[0], commandLine);  // FullCommandLine: exactly as the system reports it
    EXPECT_EQ(got[1], commandLine.substr(std::string(c.programToken).size() + 1));  // ArgumentString
    EXPECT_EQ(os::JoinPath(got[2], ""), os::JoinPath(gameDir, ""));                 // the working directory given
    const std::vector<std::string> split(got.begin() + 3, got.end());
    EXPECT_EQ(split, os::SplitCommandLine(commandLine));
  }
}

TEST(ProcessWindows, QuotedArgumentsComeBackUnchangedThroughTheSystemsSplitting) {
  WinTestFolder dir;
  const std::vector<std::string> args = {"plain", "with blank", "", "quote\"inside", "tail\\", "two\\\\\"x", "tab\tin"};
  std::string arguments;
  for (const std::string& a : args) arguments += (arguments.empty() ? "" : " ") + os::QuoteArgument(a);
  const std::string file = dir / "argv.txt";
  std::string commandLine;
  const std::vector<std::string> got = RunProbe("host_probe.exe", arguments, file, dir.Path(), commandLine);
  ASSERT_EQ(got.size(), 3 + 2 + args.size() + 1);
  const std::vector<std::string> received(got.begin() + 5, got.end() - 1);
  EXPECT_EQ(received, args);
}

TEST(ProcessWindows, AMissingExecutableIsAFailedStartAndAnExitCodeIsWaitedFor) {
  WinTestFolder dir;
  int error = 0;
  EXPECT_EQ(os::SpawnProcess(dir / "qvx.exe", "qvx.exe", dir.Path(), &error), -1);
  EXPECT_EQ(error, ENOENT);

  const std::string probe = BesideThisProgram("host_probe.exe");
  const os::ProcessId pid = os::SpawnProgram(probe, {"host_probe", "wait", "0"}, "", nullptr, true, &error);
  ASSERT_GT(pid, 0) << error;
  EXPECT_EQ(os::WaitProcess(pid), 7);
  EXPECT_EQ(os::WaitProcess(0), -1);
}

TEST(ProcessWindows, ARunningExecutableIsFoundByItsFullPathOnly) {
  const std::string probe = BesideThisProgram("host_probe.exe");
  bool error = true;
  EXPECT_FALSE(os::IsExecutableRunning(probe, &error));
  EXPECT_FALSE(error);
  int spawnError = 0;
  const os::ProcessId pid = os::SpawnProgram(probe, {"host_probe", "wait", "3"}, "", nullptr, true, &spawnError);
  ASSERT_GT(pid, 0) << spawnError;
  EXPECT_TRUE(os::IsExecutableRunning(probe, &error));
  // The path written another way is the same file.
  std::string lower = probe;
  for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  EXPECT_TRUE(os::IsExecutableRunning(lower));
  // The same file name in another folder is another program.
  EXPECT_FALSE(os::IsExecutableRunning("C:\\qvx-harlu7\\client\\qvx\\host_probe.exe"));
  EXPECT_EQ(os::WaitProcess(pid), 7);
  EXPECT_FALSE(os::IsExecutableRunning(probe));
}

TEST(InstanceLockWindows, ASecondProcessSeesTheMutexUntilItIsReleased) {
  const std::string name = "vellmora-test-" + std::to_string(GetCurrentProcessId());
  const std::string probe = BesideThisProgram("host_probe.exe");
  auto probeResult = [&] {
    const os::ProcessId pid = os::SpawnProgram(probe, {"host_probe", "mutex", name}, "", nullptr, true);
    return pid > 0 ? os::WaitProcess(pid) : -1;
  };
  os::InstanceLock lock;
  ASSERT_EQ(lock.Acquire(name), os::InstanceLock::Result::Acquired);
  EXPECT_TRUE(lock.Held());
  EXPECT_EQ(probeResult(), 1);
  // In this process too, a second lock of that name is refused.
  os::InstanceLock second;
  EXPECT_EQ(second.Acquire(name), os::InstanceLock::Result::AlreadyExists);
  EXPECT_FALSE(second.Held());
  lock.Release();
  EXPECT_FALSE(lock.Held());
  EXPECT_EQ(probeResult(), 0);
}

TEST(CrashHandlerWindows, ACrashLeavesAMinidumpUnderTheBasePathAndEndsTheProcess) {
  WinTestFolder dir;
  const std::string base = dir / "vellmora";
  const time_t before = time(nullptr);
  int error = 0;
  const os::ProcessId pid =
      os::SpawnProgram(BesideThisProgram("host_probe.exe"), {"host_probe", "crash", base}, "", nullptr, true, &error);
  ASSERT_GT(pid, 0) << error;
  const int code = os::WaitProcess(pid);
  EXPECT_EQ(static_cast<DWORD>(code), static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
  // The name is the local time of the crash, within the seconds the run took.
  std::string dump;
  for (time_t t = before; t <= time(nullptr) && dump.empty(); ++t)
    if (os::PathExists(os::CrashRecordNameAt(base, t))) dump = os::CrashRecordNameAt(base, t);
  ASSERT_FALSE(dump.empty());
  std::string content;
  ASSERT_TRUE(os::ReadFile(dump, content));
  ASSERT_GE(content.size(), 32u);
  EXPECT_EQ(content.substr(0, 4), "MDMP");
}

TEST(CrashHandlerWindows, TheRecordNameCarriesTheLocalTimeZeroPadded) {
  EXPECT_EQ(os::CrashRecordName("C:\\qvx-harlu7\\vellmora", 2027, 3, 3, 9, 5, 7),
            "C:\\qvx-harlu7\\vellmora_2027_03_03_09_05_07.dmp");
}
