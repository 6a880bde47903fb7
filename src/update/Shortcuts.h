// Links to the launcher copy: always the uninstall link in the installation directory; when the
// platform started the launcher (launch source "FC") also the start-menu and desktop links.
// Existing links are replaced; failures are only logged. Runs on the update worker.
#pragma once

#include <string>

#include "core/InstallLayout.h"

class Shortcuts {
 public:
  explicit Shortcuts(const InstallLayout& layout) : layout_(layout) {}
  Shortcuts(const Shortcuts&) = delete;
  Shortcuts& operator=(const Shortcuts&) = delete;

  // Links to the launcher copy named gameName; source is the "source" launch parameter.
  void CreateShortcuts(const std::string& gameName, const std::string& source);

 private:
  // One link "<folder>/<name>" + the link extension, replacing any file of that name.
  void CreateShortcut(const std::string& name, const std::string& folder, const std::string& target,
                      const std::string& arguments);
  void CreateLink(const std::string& target, const std::string& linkPath, const std::string& arguments);

  const InstallLayout& layout_;
};
