#include "browser/CWebBrowserHelper.h"

#include <cerrno>
#include <cstdio>

#include "log/LauncherLog.h"
#include "os/CodePage.h"
#include "os/DecimalParse.h"
#include "os/Registry.h"

namespace {

std::string Format(const char* fmt, long status, int error) {
  char buf[128];
  std::snprintf(buf, sizeof buf, fmt, static_cast<int>(status), error);
  return buf;
}

}  // namespace

CWebBrowserHelper::CWebBrowserHelper(bool is64BitWindows, const std::string& appName)
    : is64BitWindows_(is64BitWindows), narrowAppName_(os::Utf8ToAnsi(appName)) {}

std::string CWebBrowserHelper::EmulationKey() const {
  return is64BitWindows_
             ? "Software\\Wow6432Node\\Microsoft\\Internet Explorer\\Main\\FeatureControl\\FEATURE_BROWSER_EMULATION"
             : "Software\\Microsoft\\Internet Explorer\\Main\\FeatureControl\\FEATURE_BROWSER_EMULATION";
}

std::string CWebBrowserHelper::VersionKey() const {
  return is64BitWindows_ ? "SOFTWARE\\Wow6432Node\\Microsoft\\Internet Explorer"
                         : "SOFTWARE\\Microsoft\\Internet Explorer";
}

uint32_t CWebBrowserHelper::EmulationValue(int v) {
  if (v >= 10) return static_cast<uint32_t>(static_cast<int64_t>(v) * 1000 + 1);
  if (v == 8 || v == 9) return static_cast<uint32_t>(v * 1111);
  return 7000;
}

// The text is cut before its first "." (when one follows the first character) and read like
// _wtol: leading blanks, an optional sign, digits up to the first non-digit, clamped to 32 bits.
int CWebBrowserHelper::MajorVersionFromText(const std::u16string& text) {
  std::u16string_view t = text;
  if (!t.empty() && t.find(u'.', 1) != std::u16string_view::npos) t = t.substr(0, t.find(u'.'));
  return os::ClampTo<int>(os::ParseDecimalPrefix(t));
}

int CWebBrowserHelper::GetBrowserVersion() const {
  static const char* const kNames[] = {"svcVersion", "svcUpdateVersion", "Version", "W2kVersion"};
  const std::string key = VersionKey();
  int maximum = 0;
  for (const char* name : kNames) {
    long status = os::RegOpenKey(os::RegRoot::LocalMachine, key);
    if (status != os::kRegSuccess) {
      LogError(Format("QueryRegistryKey lret:%d error:%d", status, errno), "CWebBrowserHelper::GetBrowserVersion",
               "CWebBrowserHelper", 133);
      continue;
    }
    // A zero-filled buffer of 1,024 UTF-16 units; a longer value does not fit and reads as nothing.
    std::u16string buffer(1024, u'\0');
    os::RegType type = os::RegType::None;
    std::string data;
    status = os::RegQueryValue(os::RegRoot::LocalMachine, key, name, type, data);
    if (status == os::kRegSuccess && data.size() > buffer.size() * 2) status = os::kRegMoreData;
    if (status != os::kRegSuccess) {
      LogError(Format("QueryRegistryKey lret:%d error:%d", status, errno), "CWebBrowserHelper::GetBrowserVersion",
               "CWebBrowserHelper", 143);
    } else {
      for (size_t i = 0; i + 1 < data.size(); i += 2) {
        buffer[i / 2] =
            static_cast<char16_t>(static_cast<unsigned char>(data[i]) | (static_cast<unsigned char>(data[i + 1]) << 8));
      }
    }
    const size_t end = buffer.find(u'\0');
    const std::u16string text = buffer.substr(0, end == std::u16string::npos ? buffer.size() : end);
    if (text.empty()) continue;
    const int v = MajorVersionFromText(text);
    if (v > maximum) maximum = v;
  }
  return maximum;
}

void CWebBrowserHelper::FixBrowserVersion_Internal(const std::string& rootName, const std::string& valueName,
                                                   uint32_t value) const {
  const os::RegRoot root = rootName == "HKEY_LOCAL_MACHINE" ? os::RegRoot::LocalMachine : os::RegRoot::CurrentUser;
  const std::string key = EmulationKey();
  long status = os::RegCreateKey(root, key);
  if (status != os::kRegSuccess) {
    LogError(Format("SetRegisties lret:%d error:%d", status, errno), "CWebBrowserHelper::FixBrowserVersion_Internal",
             "CWebBrowserHelper", 94);
    return;
  }
  status = os::RegSetDword(root, key, os::AnsiToUtf8(valueName), value);
  if (status != os::kRegSuccess) {
    LogError(Format("SetRegisties lret:%d error:%d", status, errno), "CWebBrowserHelper::FixBrowserVersion_Internal",
             "CWebBrowserHelper", 106);
  }
}

void CWebBrowserHelper::FixBrowserVersion() const {
  const std::string& app = narrowAppName_;
  uint32_t value = EmulationValue(GetBrowserVersion());
  FixBrowserVersion_Internal("HKEY_LOCAL_MACHINE", app + ".exe", value);
  FixBrowserVersion_Internal("HKEY_CURRENT_USER", app + ".exe", value);
  value = EmulationValue(GetBrowserVersion());
  FixBrowserVersion_Internal("HKEY_LOCAL_MACHINE", "WebBrowserTool.exe", value);
  FixBrowserVersion_Internal("HKEY_CURRENT_USER", "WebBrowserTool.exe", value);
}
