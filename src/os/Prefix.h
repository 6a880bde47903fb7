// Where the launcher's "drives" live. Drive C: is <prefix>/drive_c, D: is <prefix>/drive_d.
#pragma once

#include <string>

namespace os {

// The prefix: $VELLMORA_PREFIX, else ${XDG_DATA_HOME:-$HOME/.local/share}/vellmora. Any thread.
std::string PrefixDir();

// Creates the prefix with drive_c when the prefix itself does not exist (first run).
// Returns false when it cannot be created. Main thread, at start-up.
bool EnsurePrefix();

// Root directory of a drive letter ('C' or 'D'), without a trailing separator.
std::string DriveRoot(char letter);

// A drive exists when its directory exists.
bool DriveExists(char letter);

// Directory of the file-backed registry: <prefix>/registry.
std::string RegistryDir();

// True when path lies inside the prefix (after resolving "." and ".." lexically and symlinks
// of the existing part). Used to refuse removals outside the prefix.
bool IsInsidePrefix(const std::string& path);

// True for a directory that may be removed wholesale: strictly inside the prefix, and neither a
// drive root nor the registry directory (a misconfigured path must never take those with it).
bool MayRemoveTree(const std::string& dir);

}  // namespace os
