#include "update/Registration.h"

#include <cerrno>
#include <cstdint>

#include "Identity.h"
#include "os/CodePage.h"
#include "os/Registry.h"
#include "update/UpdateLog.h"

namespace {

// The uninstall entry is named after the game.
const std::string kUninstallKey =
    std::string("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") + identity::GameShortName;

const char kWidth[] = "Screenmanager Resolution Width_h182942802";
const char kHeight[] = "Screenmanager Resolution Height_h2627697771";
const char kDefaultWidth[] = "Screenmanager Resolution Width Default_h680557497";
const char kDefaultHeight[] = "Screenmanager Resolution Height Default_h1380706816";

constexpr size_t kValueChars = 259;
constexpr size_t kInstallPathChars = 1024;

// A value read into a zeroed 4-byte field: whatever its type, up to four bytes are taken; a
// missing, unreadable or longer value leaves 0.
uint32_t ReadDwordField(const std::string& key, const char* name) {
  os::RegType type;
  std::string data;
  if (os::RegQueryValue(os::RegRoot::CurrentUser, key, name, type, data) != os::kRegSuccess) return 0;
  if (data.size() > 4) return 0;
  uint32_t value = 0;
  for (size_t i = 0; i < data.size(); ++i)
    value |= static_cast<uint32_t>(static_cast<unsigned char>(data[i])) << (8 * i);
  return value;
}

}  // namespace

void Registration::AdjustWindowSize() {
  const char kFunc[] = "CGameRemoteConfig::AdjustWindowSize";
  const std::string key = std::string("SOFTWARE\\qrd\\") + identity::ProductName;
  const uint32_t width = ReadDwordField(key, kWidth);
  const uint32_t height = ReadDwordField(key, kHeight);
  const uint32_t defaultWidth = ReadDwordField(key, kDefaultWidth);
  const uint32_t defaultHeight = ReadDwordField(key, kDefaultHeight);
  update_log::Info(update_log::Format(update_log::kShort,
                                      "AdjustWindowSize origin data windowWidth:%d windowHeight:%d "
                                      "windowDefaultWidth:%d windowDefaultHeight:%d",
                                      static_cast<int>(width), static_cast<int>(height), static_cast<int>(defaultWidth),
                                      static_cast<int>(defaultHeight)),
                   kFunc, 1055);
  if (height >= 180 && width >= 320 && height <= 10000 && width <= 10000) return;

  update_log::Info("The size of window is unnormal, reset to default setting.", kFunc, 1059);
  // The preferences belong to the game: repaired when present, never created.
  if (os::RegOpenKey(os::RegRoot::CurrentUser, key) != os::kRegSuccess) return;
  os::RegSetDword(os::RegRoot::CurrentUser, key, kWidth, defaultWidth);
  os::RegSetDword(os::RegRoot::CurrentUser, key, kHeight, defaultHeight);
}

void Registration::SetRegisties(const std::string& gameName) {
  const char kFunc[] = "CGameRemoteConfig::SetRegisties";
  AdjustWindowSize();

  errno = 0;
  long status = os::RegCreateKey(os::RegRoot::CurrentUser, kUninstallKey);
  if (status != os::kRegSuccess) {
    update_log::Error(
        update_log::Format(update_log::kShort, "SetRegisties lret:%d error:%d", static_cast<int>(status), errno), kFunc,
        927);
    return;
  }

  const std::string launcherCopy = layout_.LauncherCopyPath(gameName);
  struct Entry {
    const char* name;
    std::string value;
    int line;
  };
  const Entry entries[] = {
      {"DisplayIcon", launcherCopy, 938},
      {"DisplayName", identity::GameShortName, 947},
      {"DisplayVersion", identity::LauncherVersion, 956},
      {"UninstallString", launcherCopy + " /uninstall", 965},
      {"InstallPath", layout_.installDir, 974},
  };
  for (const Entry& e : entries) {
    errno = 0;
    status = os::RegSetString(os::RegRoot::CurrentUser, kUninstallKey, e.name, os::TruncateUtf16(e.value, kValueChars));
    if (status != os::kRegSuccess) {
      update_log::Error(
          update_log::Format(update_log::kShort, "SetRegisties lret:%d error:%d", static_cast<int>(status), errno),
          kFunc, e.line);
    }
  }
}

void Registration::RemoveRegisties() {
  const char kFunc[] = "CGameRemoteConfig::RemoveRegisties";
  long status = os::RegDeleteKey(os::RegRoot::CurrentUser, kUninstallKey);
  update_log::Info(update_log::Format(update_log::kShort, "lret:%d", static_cast<int>(status)), kFunc, 67);
  status = os::RegDeleteKey(os::RegRoot::ClassesRoot, InstallLayout::FolderName());
  update_log::Info(update_log::Format(update_log::kShort, "lret:%d", static_cast<int>(status)), kFunc, 72);
}

std::string Registration::QueryRegistryKey() {
  const char kFunc[] = "CGameRemoteConfig::QueryRegistryKey";
  errno = 0;
  long status = os::RegOpenKey(os::RegRoot::CurrentUser, kUninstallKey);
  if (status != os::kRegSuccess) {
    update_log::Error(
        update_log::Format(update_log::kShort, "QueryRegistryKey lret:%d error:%d", static_cast<int>(status), errno),
        kFunc, 1076);
    return std::string();
  }
  std::string value;
  status = os::RegQueryString(os::RegRoot::CurrentUser, kUninstallKey, "InstallPath", value);
  // The text and its terminating zero must fit the 1,024-character buffer.
  if (status == os::kRegSuccess && os::Utf16Length(value) + 1 > kInstallPathChars) status = os::kRegMoreData;
  if (status != os::kRegSuccess) {
    update_log::Error(
        update_log::Format(update_log::kShort, "QueryRegistryKey lret:%d error:%d", static_cast<int>(status), errno),
        kFunc, 1085);
    return std::string();
  }
  return value;
}
