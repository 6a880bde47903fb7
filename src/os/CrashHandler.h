// Crash record: handlers for SIGSEGV, SIGBUS, SIGFPE, SIGILL and SIGABRT on an alternate stack
// write a text record to "<base>_YYYY_MM_DD_HH_MM_SS.dmp" and end the process silently.
// A traced process gets the default action instead.
#pragma once

#include <string>

namespace os {

// Installs the handlers; returns false when they were already installed.
bool InstallCrashHandler(const std::string& dumpBasePath);

// Puts the previous handlers back.
void RemoveCrashHandler();

bool CrashHandlerInstalled();

// The record's file name for a time (exposed for tests).
std::string CrashRecordName(const std::string& dumpBasePath, int year, int month, int day, int hour, int minute,
                            int second);

}  // namespace os
