#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <cstdio>
#include <ctime>

#include <atomic>
#include <regex>
#include <thread>

#include "os/CrashHandler.h"
#include "os/DirectWriter.h"
#include "support/Sandbox.h"

namespace {

// Runs a crash in a child with the handler installed; returns the child's wait status.
int CrashInChild(const std::string& base, int sig) {
  pid_t pid = fork();
  if (pid == 0) {
    os::InstallCrashHandler(base);
    if (sig == SIGSEGV) {
      volatile int* p = nullptr;
      *p = 1;
    }
    raise(sig);
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

// Recurses until the thread's stack runs out (the end it checks for never comes).
volatile int g_deepest = -1;
__attribute__((noinline)) int Overflow(int depth) {
  if (depth == g_deepest) return 0;
  volatile char frame[1024];
  frame[0] = static_cast<char>(depth);
  return Overflow(depth + 1) + frame[0];
}

std::vector<std::string> Files(const std::string& dir) {
  std::vector<std::string> out;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') out.push_back(e->d_name);
    closedir(d);
  }
  return out;
}

}  // namespace

TEST(CrashHandler, RecordNameFollowsTheScheme) {
  EXPECT_EQ(os::CrashRecordName("/p/qvx-harlu7/vellmora", 2027, 3, 3, 9, 5, 7),
            "/p/qvx-harlu7/vellmora_2027_03_03_09_05_07.dmp");
}

TEST(CrashHandler, CrashLeavesATextRecordAndEndsSilently) {
  Sandbox box;
  for (int sig : {SIGSEGV, SIGABRT}) {
    std::string dir = box.Root() + "/crash" + std::to_string(sig);
    mkdir(dir.c_str(), 0755);
    int status = CrashInChild(dir + "/vellmora", sig);
    EXPECT_TRUE(WIFEXITED(status)) << "ends by exit, not by the signal (no core)";
    auto files = Files(dir);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(std::regex_match(files[0], std::regex(R"(vellmora_\d{4}_\d{2}_\d{2}_\d{2}_\d{2}_\d{2}\.dmp)")))
        << files[0];
    std::string record = Sandbox::ReadFile(dir + "/" + files[0]);
    EXPECT_NE(record.find("signal: " + std::to_string(sig)), std::string::npos);
    EXPECT_NE(record.find("fault address: 0x"), std::string::npos);
    EXPECT_NE(record.find("thread: "), std::string::npos);
    EXPECT_NE(record.find("backtrace:"), std::string::npos);
    EXPECT_NE(record.find("memory map:"), std::string::npos);
    EXPECT_NE(record.find("[stack]"), std::string::npos);
  }
}

TEST(CrashHandler, NoRecordWhenTheDirectoryIsGone) {
  Sandbox box;
  int status = CrashInChild(box.Root() + "/gone/vellmora", SIGSEGV);
  EXPECT_TRUE(WIFEXITED(status));
  for (const auto& f : Files(box.Root())) EXPECT_EQ(f.find(".dmp"), std::string::npos) << f;
}

// Two threads crash at once: the first one's record is written whole, and the process still ends
// by the handler's silent exit (the second thread neither dies of the default action nor cuts the
// record short).
TEST(CrashHandler, ASecondCrashingThreadWaitsForTheFirstRecord) {
  Sandbox box;
  for (int round = 0; round < 10; ++round) {
    const std::string dir = box.Root() + "/round" + std::to_string(round);
    mkdir(dir.c_str(), 0755);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      os::InstallCrashHandler(dir + "/vellmora");
      std::atomic<int> waiting{2};
      auto crash = [&waiting] {
        --waiting;
        while (waiting.load() > 0) {
        }
        volatile int* p = nullptr;
        *p = 1;
      };
      std::thread a(crash), b(crash);
      a.join();
      b.join();
      _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "round " << round << ": ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGSEGV);
    const auto files = Files(dir);
    ASSERT_EQ(files.size(), 1u);
    struct stat st {};
    ASSERT_EQ(stat((dir + "/" + files[0]).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "the memory layout is for the user only";
    const std::string record = Sandbox::ReadFile(dir + "/" + files[0]);
    const size_t maps = record.find("\nmemory map:\n");
    ASSERT_NE(maps, std::string::npos) << record;
    EXPECT_NE(record.find("[stack]", maps), std::string::npos);
    EXPECT_EQ(record.back(), '\n');
  }
}

// The record's name carries the local time without the handler ever calling the C library's
// time-zone code: the zone's offsets are prepared at installation, daylight-saving changes
// included.
TEST(CrashHandler, RecordNameUsesTheLocalTimeAcrossZoneChanges) {
  Sandbox box;
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    int failures = 0;
    for (const char* zone : {"UTC0", "IST-5:30", "CET-1CEST,M3.5.0,M10.5.0/3", "NZST-12NZDT,M9.5.0,M4.1.0/3"}) {
      setenv("TZ", zone, 1);
      tzset();
      os::RemoveCrashHandler();
      os::InstallCrashHandler("/b");
      const time_t now = time(nullptr);
      for (time_t t = now; t < now + 2 * 365 * 86400; t += 3 * 3600 + 17) {
        for (time_t probe : {t, t - 1, t + 1}) {
          struct tm tm {};
          localtime_r(&probe, &tm);
          const std::string expected =
              os::CrashRecordName("/b", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
          if (os::CrashRecordNameAt("/b", probe) != expected && ++failures < 5)
            fprintf(stderr, "%s at %lld: %s, expected %s\n", zone, static_cast<long long>(probe),
                    os::CrashRecordNameAt("/b", probe).c_str(), expected.c_str());
        }
      }
    }
    _exit(failures == 0 ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  // And a real crash in a zone far from UTC is named by its local time.
  const std::string dir = box.Root() + "/zoned";
  mkdir(dir.c_str(), 0755);
  setenv("TZ", "XYZ-9:45", 1);
  tzset();
  const time_t before = time(nullptr);
  const pid_t crasher = fork();
  ASSERT_GE(crasher, 0);
  if (crasher == 0) {
    os::InstallCrashHandler(dir + "/vellmora");
    raise(SIGSEGV);
    _exit(0);
  }
  waitpid(crasher, &status, 0);
  const time_t after = time(nullptr);
  const auto files = Files(dir);
  ASSERT_EQ(files.size(), 1u);
  bool matched = false;
  for (time_t t = before; t <= after; ++t) {
    struct tm tm {};
    localtime_r(&t, &tm);
    matched =
        matched || dir + "/" + files[0] == os::CrashRecordName(dir + "/vellmora", tm.tm_year + 1900, tm.tm_mon + 1,
                                                               tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  }
  EXPECT_TRUE(matched) << files[0];
  unsetenv("TZ");
  tzset();
}

// A thread whose stack overflows has no stack left for the handler: only the alternate stack of
// that thread lets it run. Every thread the launcher starts has one, so the overflow leaves its
// record and ends silently like any other crash.
TEST(CrashHandler, AStackOverflowOnAStartedThreadLeavesARecord) {
  struct Case {
    const char* what;
    void (*overflow)();  // runs in the child, with the handler installed
  } cases[] = {
      {"a thread with its signal stack",
       [] {
         std::thread([] {
           os::ThreadSignalStack signalStack;
           Overflow(0);
         }).join();
       }},
      {"the direct writer's thread",
       [] {
         const int fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
         os::DirectWriter writer(fd, 0, os::DirectWriter::Mode::Buffered,
                                 {[](const uint8_t*, size_t) { Overflow(0); }, nullptr});
         writer.Append("x", 1);
         writer.Finish();
       }},
      {"the direct writer's inspector",
       [] {
         const int fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
         os::DirectWriter writer(fd, 0, os::DirectWriter::Mode::Buffered,
                                 {nullptr, [](const uint8_t*, size_t) { Overflow(0); }});
         writer.Append("x", 1);
         writer.Finish();
       }},
  };
  Sandbox box;
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string dir = box.Root() + "/overflow" + std::to_string(n++);
    mkdir(dir.c_str(), 0755);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      os::InstallCrashHandler(dir + "/vellmora");
      c.overflow();
      _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGSEGV)
        << (WIFSIGNALED(status) ? "ended by signal " + std::to_string(WTERMSIG(status)) : "");
    const auto files = Files(dir);
    EXPECT_EQ(files.size(), 1u);
    if (files.size() != 1) continue;
    const std::string record = Sandbox::ReadFile(dir + "/" + files[0]);
    EXPECT_NE(record.find("signal: 11 (SIGSEGV)"), std::string::npos) << record;
    EXPECT_NE(record.find("memory map:"), std::string::npos);
  }
}
