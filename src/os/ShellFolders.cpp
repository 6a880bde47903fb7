#include "os/ShellFolders.h"

#include <glib.h>
#include <sys/stat.h>
#include <cerrno>
#include <cstdlib>

#include "os/FileSystem.h"
#include "os/Prefix.h"

namespace os {

// Both are under the user's home (never a shared directory); empty when no home is known.
std::string StartMenuDir() {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data && data[0] == '/') return JoinPath(data, "applications");
  const std::string home = HomeDir();
  return home.empty() ? std::string() : JoinPath(home + "/.local/share", "applications");
}

std::string DesktopDir() {
  // XDG_DESKTOP_DIR from the environment wins (tests and sandboxes); else the user-dirs setting.
  if (const char* d = std::getenv("XDG_DESKTOP_DIR"); d && d[0] == '/') return d;
  g_reload_user_special_dirs_cache();
  const char* dir = g_get_user_special_dir(G_USER_DIRECTORY_DESKTOP);
  if (dir && dir[0] == '/') return dir;
  const std::string home = HomeDir();
  return home.empty() ? std::string() : JoinPath(home, "Desktop");
}

const char* LinkExtension() { return ".desktop"; }

namespace {

// Quotes an Exec argument by the desktop-entry rules: inside double quotes, '"', '`', '$' and '\'
// are escaped with a backslash; '%' is doubled everywhere (field codes).
std::string QuoteExecArg(const std::string& arg) {
  bool plain = !arg.empty();
  for (char c : arg)
    if (!(g_ascii_isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '=' || c == ',' || c == '+' ||
          c == ':'))
      plain = false;
  if (plain) return arg;
  std::string out = "\"";
  for (char c : arg) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
    if (c == '%') out += '%';
    out += c;
  }
  return out + "\"";
}

}  // namespace

int CreateLinkFile(const std::string& target, const std::string& linkPath, const std::string& arguments) {
  std::string name = BaseName(linkPath);
  std::string ext = LinkExtension();
  if (name.size() > ext.size() && name.compare(name.size() - ext.size(), ext.size(), ext) == 0)
    name.resize(name.size() - ext.size());
  std::string exec = QuoteExecArg(target);
  // The arguments are one text as the link stores them; split at blanks like a shell link's.
  gchar** argv = nullptr;
  gint argc = 0;
  if (!arguments.empty() && g_shell_parse_argv(arguments.c_str(), &argc, &argv, nullptr)) {
    for (gint i = 0; i < argc; ++i) exec += " " + QuoteExecArg(argv[i]);
    g_strfreev(argv);
  }
  // The key-file writer escapes the values (line breaks, backslashes, leading blanks) by the
  // format's rules; the Exec quoting above is the desktop entry's own layer on top of that.
  GKeyFile* file = g_key_file_new();
  g_key_file_set_string(file, G_KEY_FILE_DESKTOP_GROUP, G_KEY_FILE_DESKTOP_KEY_TYPE,
                        G_KEY_FILE_DESKTOP_TYPE_APPLICATION);
  g_key_file_set_string(file, G_KEY_FILE_DESKTOP_GROUP, G_KEY_FILE_DESKTOP_KEY_NAME, name.c_str());
  g_key_file_set_string(file, G_KEY_FILE_DESKTOP_GROUP, G_KEY_FILE_DESKTOP_KEY_EXEC, exec.c_str());
  g_key_file_set_boolean(file, G_KEY_FILE_DESKTOP_GROUP, G_KEY_FILE_DESKTOP_KEY_TERMINAL, FALSE);
  gsize length = 0;
  gchar* data = g_key_file_to_data(file, &length, nullptr);
  const std::string entry(data ? data : "", data ? length : 0);
  g_free(data);
  g_key_file_free(file);
  int rc = WriteFileAtomically(linkPath, entry);
  if (rc != 0) return rc;
  return ::chmod(linkPath.c_str(), 0755) == 0 ? 0 : errno;
}

}  // namespace os
