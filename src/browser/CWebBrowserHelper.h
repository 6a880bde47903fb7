// The embedded page's emulation values: written at every start, before any window with a page
// exists, for the launcher's own name and for "WebBrowserTool", under both registry roots.
// Start-up thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

class CWebBrowserHelper {
 public:
  // Writes the four values (application name + ".exe" and "WebBrowserTool.exe", each under
  // HKEY_LOCAL_MACHINE then HKEY_CURRENT_USER).
  static void FixBrowserVersion();

  // The browser's major version: the largest of the four version values, 0 when none reads.
  static int GetBrowserVersion();

  // rootName "HKEY_LOCAL_MACHINE" selects that root, anything else HKEY_CURRENT_USER.
  // valueName is narrow (locale charset) text.
  static void FixBrowserVersion_Internal(const std::string& rootName, const std::string& valueName,
                                         uint32_t value);

  // The value written for a major version (10+ -> v*1000+1, 8/9 -> v*1111, else 7000).
  static uint32_t EmulationValue(int majorVersion);

  // The major version a version text gives ("11.0.9600" -> 11; "" or ".5" -> 0).
  static int MajorVersionFromText(const std::u16string& text);

  // The application name in the locale charset, taken once and kept for the process.
  static const std::string& NarrowApplicationName();

  // Key paths (the WOW64 rule picks the Wow6432Node variants).
  static std::string EmulationKey();
  static std::string VersionKey();

  // Whether the launcher counts as running on 64-bit Windows; tests replace it.
  static std::function<bool()> is64BitWindows;
};
