// Logging helpers of the update pipeline (module "CGameRemoteConfig").
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

#include "log/LauncherLog.h"
#include "os/CodePage.h"

namespace update_log {

inline constexpr char kModule[] = "CGameRemoteConfig";
// The functions whose lines the extraction's pieces write (PackageExtractor, StagedInstaller,
// EntryFailure; CGameRemoteConfig itself).
inline constexpr char kUnzipEntries[] = "CGameRemoteConfig::OnUnzipFile";
inline constexpr char kUnzipPackage[] = "CGameRemoteConfig::UnzipFile";

inline void Info(const std::string& text, const char* function, int line) { LogInfo(text, function, kModule, line); }
inline void Error(const std::string& text, const char* function, int line) { LogError(text, function, kModule, line); }

// printf-style formatting; the result is cut to maxUnits UTF-16 code units (the size of the
// fixed message buffers the log texts were designed around).
inline std::string Format(size_t maxUnits, const char* format, ...) __attribute__((format(printf, 2, 3)));
inline std::string Format(size_t maxUnits, const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string out;
  if (n > 0) {
    out.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(out.data(), out.size(), format, args);
    out.resize(static_cast<size_t>(n));
  }
  va_end(args);
  return os::TruncateUtf16(out, maxUnits);
}

inline constexpr size_t kShort = 255;  // most formatted texts
inline constexpr size_t kLong = 2047;  // the longer message buffer
inline constexpr size_t kUncut = static_cast<size_t>(-1);

}  // namespace update_log
