// The crash record on Windows: the process's unhandled-exception filter writes a minidump of the
// normal kind to "<base>_YYYY_MM_DD_HH_MM_SS.dmp" (local time) and ends the process without the
// system's crash dialog. The dump is written by a thread of its own: a thread whose stack overflowed
// has too little left for the writer.
#include <windows.h>
// After windows.h, which it needs.
#include <dbghelp.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <cwchar>

#include "os/CrashHandler.h"
#include "os/base/Win32Text.h"

namespace os {
namespace {

// The one user stream the dump carries: its type, with no data.
constexpr ULONG32 kMarkerStream = 0x10001;
// What a thread keeps of its stack for the filter after a stack overflow.
constexpr ULONG kStackGuarantee = 64 * 1024;

std::atomic<bool> gInstalled{false};
wchar_t gBasePath[MAX_PATH * 2] = {};  // set at installation: the filter allocates nothing
LPTOP_LEVEL_EXCEPTION_FILTER gPrevious = nullptr;

struct DumpJob {
  EXCEPTION_POINTERS* pointers;
  DWORD threadId;
};

DWORD WINAPI WriteDump(void* param) {
  const DumpJob* job = static_cast<const DumpJob*>(param);
  SYSTEMTIME now{};
  GetLocalTime(&now);
  wchar_t name[MAX_PATH * 2 + 32];
  std::swprintf(name, sizeof name / sizeof name[0], L"%ls_%04d_%02d_%02d_%02d_%02d_%02d.dmp", gBasePath, now.wYear,
                now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
  HANDLE file =
      CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  MINIDUMP_EXCEPTION_INFORMATION exception{};
  exception.ThreadId = job->threadId;
  exception.ExceptionPointers = job->pointers;
  exception.ClientPointers = FALSE;
  MINIDUMP_USER_STREAM marker{};
  marker.Type = kMarkerStream;
  MINIDUMP_USER_STREAM_INFORMATION streams{};
  streams.UserStreamCount = 1;
  streams.UserStreamArray = &marker;
  const BOOL ok = MiniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), file, MiniDumpNormal, &exception,
                                    &streams, nullptr);
  CloseHandle(file);
  return ok ? 0 : 1;
}

// Any crashing thread. A debugger sees the exception itself; nothing is written then.
LONG WINAPI CrashFilter(EXCEPTION_POINTERS* pointers) {
  if (IsDebuggerPresent()) return EXCEPTION_CONTINUE_SEARCH;
  static std::atomic<bool> writing{false};
  if (writing.exchange(true)) {
    // Another thread is writing the first crash's dump: this one waits for the end with it.
    Sleep(INFINITE);
  }
  DumpJob job{pointers, GetCurrentThreadId()};
  HANDLE writer = CreateThread(nullptr, 0, WriteDump, &job, 0, nullptr);
  if (writer) {
    WaitForSingleObject(writer, INFINITE);
    CloseHandle(writer);
  } else {
    WriteDump(&job);
  }
  return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

bool InstallCrashHandler(const std::string& dumpBasePath) {
  if (gInstalled.exchange(true)) return false;
  const std::wstring base = win32::Wide(dumpBasePath);
  std::wcsncpy(gBasePath, base.c_str(), sizeof gBasePath / sizeof gBasePath[0] - 1);
  ULONG guarantee = kStackGuarantee;
  SetThreadStackGuarantee(&guarantee);
  SetErrorMode(SEM_NOGPFAULTERRORBOX);
  gPrevious = SetUnhandledExceptionFilter(CrashFilter);
  return true;
}

void RemoveCrashHandler() {
  if (!gInstalled.exchange(false)) return;
  SetErrorMode(0);
  SetUnhandledExceptionFilter(gPrevious);
  gPrevious = nullptr;
}

bool CrashHandlerInstalled() { return gInstalled.load(); }

// Windows has no alternate signal stacks: the thread keeps part of its own stack back for the
// filter instead, so a thread whose stack overflowed still reaches it.
ThreadSignalStack::ThreadSignalStack() {
  ULONG guarantee = kStackGuarantee;
  if (SetThreadStackGuarantee(&guarantee)) size_ = kStackGuarantee;
}

ThreadSignalStack::~ThreadSignalStack() = default;

std::string CrashRecordName(const std::string& base, int year, int month, int day, int hour, int minute, int second) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "_%04d_%02d_%02d_%02d_%02d_%02d.dmp", year, month, day, hour, minute, second);
  return base + buf;
}

std::string CrashRecordNameAt(const std::string& dumpBasePath, time_t when) {
  struct tm local {};
  if (localtime_s(&local, &when) != 0) return CrashRecordName(dumpBasePath, 1970, 1, 1, 0, 0, 0);
  return CrashRecordName(dumpBasePath, local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                         local.tm_min, local.tm_sec);
}

}  // namespace os
