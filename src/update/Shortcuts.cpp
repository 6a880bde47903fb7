#include "update/Shortcuts.h"

#include "Identity.h"
#include "os/CodePage.h"
#include "os/FileSystem.h"
#include "os/ShellFolders.h"
#include "update/UpdateLog.h"

void Shortcuts::CreateShortcuts(const std::string& gameName, const std::string& source) {
  const char kFunc[] = "CGameRemoteConfig::CreateShortcuts";
  const std::string uninstallName = std::string(identity::GameShortName) + "-uninstall";
  const std::string target = layout_.LauncherCopyPath(gameName);

  CreateShortcut(uninstallName, layout_.installDir, target, "/uninstall");

  if (!os::EqualsNoCase(source, "FC")) {
    update_log::Info(update_log::Format(update_log::kLong, "Stop creating shortcuts: source=%s", source.c_str()), kFunc,
                     790);
    return;
  }
  update_log::Info("Begin CreateShortcuts", kFunc, 795);

  CreateShortcut(identity::ProductName, layout_.startMenuFolder, target, "");
  CreateShortcut(uninstallName, layout_.startMenuFolder, target, "/uninstall");
  CreateShortcut(identity::ProductName, layout_.desktopDir, target, "");

  update_log::Info("End CreateShortcuts", kFunc, 818);
}

void Shortcuts::CreateShortcut(const std::string& name, const std::string& folder, const std::string& target,
                               const std::string& arguments) {
  const char kFunc[] = "CGameRemoteConfig::CreateShortcut";
  update_log::Info("Begin CreateShortcut", kFunc, 823);
  update_log::Info(update_log::Format(update_log::kShort, "%s", folder.c_str()), kFunc, 824);
  update_log::Info(update_log::Format(update_log::kShort, "%s", arguments.c_str()), kFunc, 825);

  // Missing parents are created too: on a fresh account the start menu has no "Apps" folder yet, and
  // creating one level only would never give the player start-menu links. A failure shows at the save.
  if (!os::PathExists(folder)) os::MakeDirectories(folder);
  const std::string linkPath = os::JoinPath(folder, name + os::LinkExtension());
  if (os::PathExists(linkPath)) os::RemoveFile(linkPath);
  CreateLink(target, linkPath, arguments);

  update_log::Info("End CreateShortcut", kFunc, 842);
}

void Shortcuts::CreateLink(const std::string& target, const std::string& linkPath, const std::string& arguments) {
  const char kFunc[] = "CGameRemoteConfig::CreateLink";
  update_log::Info("Begin CreateLink", kFunc, 848);
  // Writing the desktop entry is the only step that can fail here (the save).
  int error = os::CreateLinkFile(target, linkPath, arguments);
  if (error != 0) {
    update_log::Error(update_log::Format(update_log::kShort, "CreateLink ret:%d hRes:%d", error, error), kFunc, 902);
    return;
  }
  update_log::Info("End CreateLink", kFunc, 908);
}
