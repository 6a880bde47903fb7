// Crash record: handlers for SIGSEGV, SIGBUS, SIGFPE, SIGILL and SIGABRT on an alternate stack
// write a text record to "<base>_YYYY_MM_DD_HH_MM_SS.dmp" (local time) and end the process
// silently. The handler makes async-signal-safe calls only: the local time comes from the zone's
// offsets prepared at installation. When several threads crash, the first one's record is written
// whole before the process ends. A traced process gets the default action instead.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>

namespace os {

// Installs the handlers; returns false when they were already installed.
bool InstallCrashHandler(const std::string& dumpBasePath);

// Puts the previous handlers back.
void RemoveCrashHandler();

bool CrashHandlerInstalled();

// An alternate signal stack for the calling thread while the object lives: the crash handler runs
// on it, so a thread whose own stack overflowed still leaves its record. The first line of every
// thread the launcher starts (the main thread gets one from InstallCrashHandler); made and ended
// on that thread. A thread that already has one keeps it.
class ThreadSignalStack {
 public:
  ThreadSignalStack();
  ~ThreadSignalStack();
  ThreadSignalStack(const ThreadSignalStack&) = delete;
  ThreadSignalStack& operator=(const ThreadSignalStack&) = delete;

 private:
  void* memory_ = nullptr;  // the mapping, guard page included; null when none was installed
  size_t size_ = 0;
};

// The record's file name for a time (exposed for tests).
std::string CrashRecordName(const std::string& dumpBasePath, int year, int month, int day, int hour, int minute,
                            int second);

// The record's file name for a crash at the moment when, as the handler builds it (with the zone
// prepared by the last installation).
std::string CrashRecordNameAt(const std::string& dumpBasePath, time_t when);

}  // namespace os
