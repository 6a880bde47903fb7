#include "os/CrashHandler.h"

#include <execinfo.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace os {

namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr size_t kSignalCount = sizeof kSignals / sizeof kSignals[0];

char g_basePath[4096];
struct sigaction g_previous[kSignalCount];
std::atomic<bool> g_installed{false};
std::atomic<bool> g_inHandler{false};
char g_altStack[128 * 1024];

// Async-signal-safe output helpers: no allocation, no stdio.
void Put(int fd, const char* s) {
  size_t n = strlen(s);
  while (n > 0) {
    ssize_t w = ::write(fd, s, n);
    if (w <= 0) return;
    s += w;
    n -= static_cast<size_t>(w);
  }
}

void PutNumber(int fd, unsigned long long v, int base, int width = 0) {
  char buf[32];
  int i = 0;
  do {
    int d = static_cast<int>(v % base);
    buf[i++] = static_cast<char>(d < 10 ? '0' + d : 'a' + d - 10);
    v /= base;
  } while (v && i < 30);
  while (i < width) buf[i++] = '0';
  char out[32];
  for (int k = 0; k < i; ++k) out[k] = buf[i - 1 - k];
  out[i] = 0;
  Put(fd, out);
}

// Appends a zero-padded decimal to dst (signal-safe formatting of the record name).
char* AppendPadded(char* dst, char* end, int value, int width) {
  char digits[16];
  int n = 0;
  unsigned v = value < 0 ? 0u : static_cast<unsigned>(value);
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v && n < 15);
  while (n < width && n < 15) digits[n++] = '0';
  while (n > 0 && dst < end) *dst++ = digits[--n];
  return dst;
}

bool BeingTraced() {
  int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buf[4096];
  ssize_t n = ::read(fd, buf, sizeof buf - 1);
  ::close(fd);
  if (n <= 0) return false;
  buf[n] = 0;
  const char* p = strstr(buf, "TracerPid:");
  if (!p) return false;
  p += 10;
  while (*p == ' ' || *p == '\t') ++p;
  return *p != '0';
}

void CopyMaps(int out) {
  int in = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
  if (in < 0) return;
  char buf[4096];
  ssize_t n;
  while ((n = ::read(in, buf, sizeof buf)) > 0) {
    if (::write(out, buf, static_cast<size_t>(n)) != n) break;
  }
  ::close(in);
}

const char* SignalName(int sig) {
  switch (sig) {
    case SIGSEGV: return "SIGSEGV";
    case SIGBUS: return "SIGBUS";
    case SIGFPE: return "SIGFPE";
    case SIGILL: return "SIGILL";
    case SIGABRT: return "SIGABRT";
  }
  return "signal";
}

void WriteRecord(int sig, siginfo_t* info) {
  time_t now = time(nullptr);
  struct tm tm;
  localtime_r(&now, &tm);
  char name[4200];
  char* end = name + sizeof name - 8;
  char* p = name;
  for (const char* s = g_basePath; *s && p < end; ++s) *p++ = *s;
  const int fields[6] = {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
  for (int i = 0; i < 6; ++i) {
    *p++ = '_';
    p = AppendPadded(p, end, fields[i], i == 0 ? 4 : 2);
  }
  memcpy(p, ".dmp", 5);

  // No file when the directory is gone: the open simply fails.
  int fd = ::open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return;
  Put(fd, "Crash record\nsignal: ");
  PutNumber(fd, static_cast<unsigned>(sig), 10);
  Put(fd, " (");
  Put(fd, SignalName(sig));
  Put(fd, ")\ncode: ");
  PutNumber(fd, static_cast<unsigned>(info ? info->si_code : 0), 10);
  Put(fd, "\nfault address: 0x");
  PutNumber(fd, reinterpret_cast<unsigned long long>(info ? info->si_addr : nullptr), 16);
  Put(fd, "\nprocess: ");
  PutNumber(fd, static_cast<unsigned>(::getpid()), 10);
  Put(fd, "\nthread: ");
  PutNumber(fd, static_cast<unsigned long long>(::syscall(SYS_gettid)), 10);
  Put(fd, "\ntime: ");
  PutNumber(fd, static_cast<unsigned long long>(now), 10);
  Put(fd, "\n\nbacktrace:\n");
  void* frames[64];
  int count = backtrace(frames, 64);
  backtrace_symbols_fd(frames, count, fd);
  Put(fd, "\nmemory map:\n");
  CopyMaps(fd);
  ::fsync(fd);
  ::close(fd);
}

void OnCrash(int sig, siginfo_t* info, void*) {
  if (BeingTraced()) {
    // A debugger sees the signal as if there were no handler.
    ::signal(sig, SIG_DFL);
    ::raise(sig);
    return;
  }
  if (!g_inHandler.exchange(true)) WriteRecord(sig, info);
  ::_exit(128 + sig);  // a silent end: no core, no further launcher code
}

}  // namespace

std::string CrashRecordName(const std::string& base, int year, int month, int day, int hour, int minute, int second) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "_%04d_%02d_%02d_%02d_%02d_%02d.dmp", year, month, day, hour, minute, second);
  return base + buf;
}

bool InstallCrashHandler(const std::string& dumpBasePath) {
  if (g_installed.exchange(true)) return false;
  std::snprintf(g_basePath, sizeof g_basePath, "%s", dumpBasePath.c_str());
  // The first backtrace() loads the unwinder; do it now, not inside the handler.
  void* frame[1];
  backtrace(frame, 1);

  stack_t ss{};
  ss.ss_sp = g_altStack;
  ss.ss_size = sizeof g_altStack;
  ::sigaltstack(&ss, nullptr);

  struct sigaction sa {};
  sa.sa_sigaction = OnCrash;
  sa.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
  sigemptyset(&sa.sa_mask);
  for (size_t i = 0; i < kSignalCount; ++i) ::sigaction(kSignals[i], &sa, &g_previous[i]);
  return true;
}

void RemoveCrashHandler() {
  if (!g_installed.exchange(false)) return;
  for (size_t i = 0; i < kSignalCount; ++i) ::sigaction(kSignals[i], &g_previous[i], nullptr);
}

bool CrashHandlerInstalled() { return g_installed.load(); }

}  // namespace os
