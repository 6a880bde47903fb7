#include "update/Registration.h"

#include <cerrno>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>

#include "Identity.h"
#include "core/GameBuild.h"
#include "os/CodePage.h"
#include "os/Prefix.h"
#include "os/Registry.h"
#include "os/WineRegistryFile.h"
#include "os/WineRunner.h"
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

// A zeroed 4-byte field filled from a value's data: whatever its type, up to four bytes are
// taken; a missing, unreadable or longer value leaves 0.
uint32_t DwordField(const std::optional<std::string>& data) {
  if (!data || data->size() > 4) return 0;
  uint32_t value = 0;
  for (size_t i = 0; i < data->size(); ++i)
    value |= static_cast<uint32_t>(static_cast<unsigned char>((*data)[i])) << (8 * i);
  return value;
}

// The key that holds the game's preferences, wherever the game reads them from.
class PreferenceKey {
 public:
  virtual ~PreferenceKey() = default;
  virtual std::optional<std::string> Data(const char* name) = 0;
  virtual bool Exists() = 0;
  virtual void SetDword(const char* name, uint32_t value) = 0;
  // Makes the writes last; failures are silent, like the registry writes themselves.
  virtual void Commit() {}
};

// A native build reads the launcher's own registry store.
class StoreKey : public PreferenceKey {
 public:
  explicit StoreKey(std::string key) : key_(std::move(key)) {}
  std::optional<std::string> Data(const char* name) override {
    os::RegType type;
    std::string data;
    if (os::RegQueryValue(os::RegRoot::CurrentUser, key_, name, type, data) != os::kRegSuccess) return std::nullopt;
    return data;
  }
  bool Exists() override { return os::RegOpenKey(os::RegRoot::CurrentUser, key_) == os::kRegSuccess; }
  void SetDword(const char* name, uint32_t value) override {
    os::RegSetDword(os::RegRoot::CurrentUser, key_, name, value);
  }

 private:
  std::string key_;
};

// A Windows build reads the Wine prefix's registry, kept in its user.reg while no Wine server runs.
class WineKey : public PreferenceKey {
 public:
  WineKey(const std::string& prefix, std::string key)
      : path_(os::WineRegistryFile::UserFilePath(prefix)),
        file_(os::WineRegistryFile::Load(path_)),
        key_(std::move(key)) {}
  std::optional<std::string> Data(const char* name) override { return file_.ValueData(key_, name); }
  bool Exists() override { return file_.HasKey(key_); }
  void SetDword(const char* name, uint32_t value) override { changed_ = file_.SetDword(key_, name, value) || changed_; }
  void Commit() override {
    if (changed_) file_.Save(path_);
  }

 private:
  std::string path_;
  os::WineRegistryFile file_;
  std::string key_;
  bool changed_ = false;
};

// How long the repair waits for a Wine server of an earlier run, which ends a few seconds after
// the last Windows program of the prefix.
constexpr int kWineServerWaitMs = 10000;

}  // namespace

void Registration::AdjustWindowSize() {
  const char kFunc[] = "CGameRemoteConfig::AdjustWindowSize";
  const std::string key = std::string("SOFTWARE\\qrd\\") + identity::ProductName;
  std::unique_ptr<PreferenceKey> prefs;
  if (DetectGameBuild(layout_) == GameBuild::Windows) {
    const std::string prefix = os::PrefixDir();
    // A running Wine server holds the registry and writes it back when it ends: an edit of the
    // file now would be lost, and the game would not see it.
    if (!os::WaitForWineServerExit(prefix, kWineServerWaitMs)) {
      update_log::Error("AdjustWindowSize skipped, a Wine server runs for " + prefix, kFunc, 1050);
      return;
    }
    prefs = std::make_unique<WineKey>(prefix, key);
  } else {
    prefs = std::make_unique<StoreKey>(key);
  }
  const uint32_t width = DwordField(prefs->Data(kWidth));
  const uint32_t height = DwordField(prefs->Data(kHeight));
  const uint32_t defaultWidth = DwordField(prefs->Data(kDefaultWidth));
  const uint32_t defaultHeight = DwordField(prefs->Data(kDefaultHeight));
  update_log::Info(update_log::Format(update_log::kShort,
                                      "AdjustWindowSize origin data windowWidth:%d windowHeight:%d "
                                      "windowDefaultWidth:%d windowDefaultHeight:%d",
                                      static_cast<int>(width), static_cast<int>(height), static_cast<int>(defaultWidth),
                                      static_cast<int>(defaultHeight)),
                   kFunc, 1055);
  if (height >= 180 && width >= 320 && height <= 10000 && width <= 10000) return;

  update_log::Info("The size of window is unnormal, reset to default setting.", kFunc, 1059);
  // The preferences belong to the game: repaired when present, never created.
  if (!prefs->Exists()) return;
  prefs->SetDword(kWidth, defaultWidth);
  prefs->SetDword(kHeight, defaultHeight);
  prefs->Commit();
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
