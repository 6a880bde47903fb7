// Removal of directories that the running process may itself live in (the uninstaller's own
// installation directory): a detached remover does it once this process has exited.
#pragma once

#include <string>
#include <vector>

namespace os {

// Starts a detached remover (its own session, no terminal, no inherited descriptors) that waits
// until this process has exited, then removes each of dirs with RemoveTree, only when at that
// time RemovableTree still allows it, and at the path it resolves to then. Returns at once;
// nothing is reported, since the caller is about to exit. Main thread, with nothing more to write
// in the directories.
void StartDelayedRemoval(const std::vector<std::string>& dirs);

}  // namespace os
