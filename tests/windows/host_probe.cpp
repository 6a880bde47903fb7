// A second process for the host tests, started by them:
//   host_probe argv <file>         writes its command line, as the system reports it and as the
//                                  system splits it, and its working directory to <file>
//   host_probe mutex <name>        exits 0 when it took the instance lock, 1 when another holds it
//   host_probe crash <base>        installs the crash handler and crashes
//   host_probe wait <seconds>      sleeps, then exits 7
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "os/CrashHandler.h"
#include "os/FileSystem.h"
#include "os/InstanceLock.h"
#include "os/Process.h"

namespace {

std::string Narrow(const wchar_t* text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
  return out;
}

// One line per item: the whole command line, the argument string, the working directory, then
// each argument as CommandLineToArgvW splits the line.
int WriteArguments(const std::string& file) {
  std::string out = os::FullCommandLine() + "\n" + os::ArgumentString() + "\n";
  wchar_t cwd[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, cwd);
  out += Narrow(cwd) + "\n";
  int count = 0;
  wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
  for (int i = 0; i < count; ++i) out += Narrow(args[i]) + "\n";
  LocalFree(args);
  return os::WriteFileAtomically(file, out) == 0 ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 64;
  const std::string mode = argv[1];
  if (mode == "argv" && argc >= 3) {
    // The file name is the last argument: the ones before it are the case under test.
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    const std::string file = Narrow(args[count - 1]);
    LocalFree(args);
    return WriteArguments(file);
  }
  if (mode == "mutex" && argc >= 3) {
    os::InstanceLock lock;
    switch (lock.Acquire(argv[2])) {
      case os::InstanceLock::Result::Acquired: return 0;
      case os::InstanceLock::Result::AlreadyExists: return 1;
      case os::InstanceLock::Result::Error: return 2;
    }
  }
  if (mode == "crash" && argc >= 3) {
    os::InstallCrashHandler(argv[2]);
    volatile int* nowhere = nullptr;
    *nowhere = 1;
    return 3;  // not reached
  }
  if (mode == "wait" && argc >= 3) {
    Sleep(static_cast<DWORD>(std::atoi(argv[2]) * 1000));
    return 7;
  }
  return 64;
}
