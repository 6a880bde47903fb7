#include "os/CrashHandler.h"

#include <execinfo.h>
#include <fcntl.h>
#include <sys/mman.h>
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
// The handler's stack: its record name, backtrace and copy buffers fit with room to spare.
constexpr size_t kSignalStackSize = 128 * 1024;
char g_altStack[kSignalStackSize];

// The thread writing the record (0: none yet) and whether its record is complete.
std::atomic<long> g_writer{0};
std::atomic<bool> g_recordDone{false};
static_assert(std::atomic<long>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "the handler's atomics must be usable in a signal handler");

// The local time zone as offsets from UTC, prepared at installation for the handler (localtime_r
// may take locks and read files, which a signal handler must not): the offset in force from each
// moment on, for the two years after installation (daylight-saving changes included).
struct ZoneSpan {
  time_t from;
  long offset;  // seconds east of UTC
};
constexpr int kMaxZoneSpans = 8;
ZoneSpan g_zone[kMaxZoneSpans];
int g_zoneSpans = 0;

long OffsetAt(time_t t) {
  struct tm tm {};
  return localtime_r(&t, &tm) ? tm.tm_gmtoff : 0;
}

// Installation only.
void PrepareZone(time_t now) {
  g_zoneSpans = 0;
  g_zone[g_zoneSpans++] = {now, OffsetAt(now)};
  constexpr time_t kDay = 24 * 60 * 60;
  for (time_t day = now; day < now + 2 * 366 * kDay && g_zoneSpans < kMaxZoneSpans; day += kDay) {
    const long before = OffsetAt(day);
    if (OffsetAt(day + kDay) == before) continue;
    // The change lies within (day, day + kDay]: find its first second.
    time_t lo = day, hi = day + kDay;
    while (hi - lo > 1) {
      const time_t mid = lo + (hi - lo) / 2;
      (OffsetAt(mid) == before ? lo : hi) = mid;
    }
    g_zone[g_zoneSpans++] = {hi, OffsetAt(hi)};
  }
}

// Signal-safe: the civil date and time of t in the prepared zone (days-from-civil inverted, in the
// proleptic Gregorian calendar).
void LocalFields(time_t t, int fields[6]) {
  long offset = g_zoneSpans > 0 ? g_zone[0].offset : 0;
  for (int i = 1; i < g_zoneSpans; ++i)
    if (t >= g_zone[i].from) offset = g_zone[i].offset;
  const long long local = static_cast<long long>(t) + offset;
  long long days = local / 86400;
  long long secs = local % 86400;
  if (secs < 0) {
    secs += 86400;
    --days;
  }
  const long long z = days + 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const long long doe = z - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  const long long day = doy - (153 * mp + 2) / 5 + 1;
  const long long month = mp < 10 ? mp + 3 : mp - 9;
  const long long year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  fields[0] = static_cast<int>(year);
  fields[1] = static_cast<int>(month);
  fields[2] = static_cast<int>(day);
  fields[3] = static_cast<int>(secs / 3600);
  fields[4] = static_cast<int>(secs / 60 % 60);
  fields[5] = static_cast<int>(secs % 60);
}

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
  int fields[6];
  LocalFields(now, fields);
  char name[4200];
  char* end = name + sizeof name - 8;
  char* p = name;
  for (const char* s = g_basePath; *s && p < end; ++s) *p++ = *s;
  for (int i = 0; i < 6; ++i) {
    *p++ = '_';
    p = AppendPadded(p, end, fields[i], i == 0 ? 4 : 2);
  }
  memcpy(p, ".dmp", 5);

  // No file when the directory is gone: the open simply fails.
  // The record shows the process's memory layout: for the user only.
  int fd = ::open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
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

// Only async-signal-safe calls from here on (backtrace's unwinder is loaded at installation).
// The first crashing thread writes the record; a thread crashing meanwhile waits until that record
// is complete (the writer's exit then ends it too), at most 10 s; a crash inside the writer itself
// ends the process at once.
void OnCrash(int sig, siginfo_t* info, void*) {
  if (BeingTraced()) {
    // A debugger sees the signal as if there were no handler.
    ::signal(sig, SIG_DFL);
    ::raise(sig);
    return;
  }
  const long self = ::syscall(SYS_gettid);
  long writer = 0;
  if (g_writer.compare_exchange_strong(writer, self)) {
    WriteRecord(sig, info);
    g_recordDone.store(true);
  } else if (writer != self) {
    for (int i = 0; i < 1000 && !g_recordDone.load(); ++i) {
      struct timespec pause = {0, 10 * 1000 * 1000};
      ::nanosleep(&pause, nullptr);
    }
  }
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
  PrepareZone(time(nullptr));
  // The first backtrace() loads the unwinder; do it now, not inside the handler.
  void* frame[1];
  backtrace(frame, 1);

  stack_t ss{};
  ss.ss_sp = g_altStack;
  ss.ss_size = sizeof g_altStack;
  ::sigaltstack(&ss, nullptr);

  struct sigaction sa {};
  sa.sa_sigaction = OnCrash;
  // The handler stays in force for every thread (a second crashing thread must wait, not die of
  // the default action), and a crash inside it re-enters it instead of being held back.
  sa.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
  sigemptyset(&sa.sa_mask);
  for (size_t i = 0; i < kSignalCount; ++i) ::sigaction(kSignals[i], &sa, &g_previous[i]);
  return true;
}

void RemoveCrashHandler() {
  if (!g_installed.exchange(false)) return;
  for (size_t i = 0; i < kSignalCount; ++i) ::sigaction(kSignals[i], &g_previous[i], nullptr);
}

bool CrashHandlerInstalled() { return g_installed.load(); }

ThreadSignalStack::ThreadSignalStack() {
  stack_t current{};
  if (::sigaltstack(nullptr, &current) != 0 || !(current.ss_flags & SS_DISABLE)) return;
  // A guard page below the stack: a handler that ran out of it faults instead of writing over
  // whatever lies beneath.
  const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  const size_t size = kSignalStackSize + page;
  void* memory = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
  if (memory == MAP_FAILED) return;  // the thread runs on without: a crash is then unrecorded
  ::mprotect(memory, page, PROT_NONE);
  stack_t ss{};
  ss.ss_sp = static_cast<char*>(memory) + page;
  ss.ss_size = kSignalStackSize;
  if (::sigaltstack(&ss, nullptr) != 0) {
    ::munmap(memory, size);
    return;
  }
  memory_ = memory;
  size_ = size;
}

ThreadSignalStack::~ThreadSignalStack() {
  if (!memory_) return;
  stack_t off{};
  off.ss_flags = SS_DISABLE;
  ::sigaltstack(&off, nullptr);
  ::munmap(memory_, size_);
}

std::string CrashRecordNameAt(const std::string& dumpBasePath, time_t when) {
  int f[6];
  LocalFields(when, f);
  return CrashRecordName(dumpBasePath, f[0], f[1], f[2], f[3], f[4], f[5]);
}

}  // namespace os
