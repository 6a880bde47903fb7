// The embedded page's emulation values: written at every start, before any window with a page
// exists, for the launcher's own name and for "WebBrowserTool", under both registry roots.
// Start-up thread.
#pragma once

#include <cstdint>
#include <string>

class CWebBrowserHelper {
 public:
  // is64BitWindows picks the Wow6432Node key variants; appName is the launcher's application name.
  CWebBrowserHelper(bool is64BitWindows, const std::string& appName);

  // Writes the four values (application name + ".exe" and "WebBrowserTool.exe", each under
  // HKEY_LOCAL_MACHINE then HKEY_CURRENT_USER).
  void FixBrowserVersion() const;

  // The browser's major version: the largest of the four version values, 0 when none reads.
  int GetBrowserVersion() const;

  // rootName "HKEY_LOCAL_MACHINE" selects that root, anything else HKEY_CURRENT_USER.
  // valueName is narrow (locale charset) text.
  void FixBrowserVersion_Internal(const std::string& rootName, const std::string& valueName, uint32_t value) const;

  // The value written for a major version (10+ -> v*1000+1, 8/9 -> v*1111, else 7000).
  static uint32_t EmulationValue(int majorVersion);

  // The major version a version text gives ("11.0.9600" -> 11; "" or ".5" -> 0).
  static int MajorVersionFromText(const std::u16string& text);

  // Key paths (the WOW64 rule picks the Wow6432Node variants).
  std::string EmulationKey() const;
  std::string VersionKey() const;

 private:
  const bool is64BitWindows_;
  const std::string narrowAppName_;  // the application name in the locale charset
};
