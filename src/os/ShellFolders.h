// Shell folders and links: the start menu is $XDG_DATA_HOME/applications, the desktop the XDG
// desktop directory; a link is a freedesktop desktop entry "<link name>.desktop".
#pragma once

#include <string>

namespace os {

// Empty when the user has no known home directory.
std::string StartMenuDir();
std::string DesktopDir();

// Link file extension (".desktop" here; ".lnk" on Windows).
const char* LinkExtension();

// Writes a desktop entry at linkPath: Type=Application, Name= the link's base name, Exec= target
// and arguments quoted by the desktop-entry rules; made executable. Returns 0 or the errno.
int CreateLinkFile(const std::string& target, const std::string& linkPath, const std::string& arguments);

}  // namespace os
