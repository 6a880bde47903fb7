// Where the launcher's "drives" live. Drive C: is <prefix>/drive_c, D: is <prefix>/drive_d.
#pragma once

#include <string>

namespace os {

// The user's home directory: $HOME when it is an absolute path, else the account's entry in the
// password database; empty when neither is known (never a shared directory). Any thread.
std::string HomeDir();

// The prefix: $VELLMORA_PREFIX, else ${XDG_DATA_HOME:-<home>/.local/share}/vellmora (an
// XDG_DATA_HOME that is not absolute is ignored). Empty when no home directory is known.
// Any thread.
std::string PrefixDir();

// Creates the prefix with drive_c when the prefix itself does not exist (first run).
// Returns false when it cannot be created or there is none. Main thread, at start-up.
bool EnsurePrefix();

// Root directory of a drive letter ('C' or 'D'), without a trailing separator.
std::string DriveRoot(char letter);

// A drive exists when its directory exists.
bool DriveExists(char letter);

// Directory of the file-backed registry: <prefix>/registry.
std::string RegistryDir();

// Where a removal of path really lands: its parent directory resolved on the file system (links
// and "..", as the kernel walks them), then its last component as written, so that a link there is
// removed as a link. Empty when path is relative, ends in "." or "..", or its parent does not
// resolve. Text is never taken for the file system: "<prefix>/lnk/../x" with lnk a link to
// /elsewhere lands in /x.
std::string LocateForRemoval(const std::string& path);

// LocateForRemoval(path) when it lies strictly inside root (resolved too); empty otherwise.
std::string LocateInside(const std::string& path, const std::string& root);

// True when path, located as above, lies strictly inside the prefix, and so does the target when
// path is an existing link.
bool IsInsidePrefix(const std::string& path);

// The located path of a directory that may be removed wholesale: inside the prefix as above, and
// neither a drive root nor the registry directory, however it is written or linked (a
// misconfigured path must never take those with it). Empty when it may not be removed.
std::string RemovableTree(const std::string& dir);
bool MayRemoveTree(const std::string& dir);

}  // namespace os
