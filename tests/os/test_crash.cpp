#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>

#include <regex>

#include "os/CrashHandler.h"
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
