// Recursive removal of a directory tree, the one used for every removal of a whole directory.
// Symbolic links are removed as links and never followed. Any thread; blocking.
#pragma once

#include <functional>
#include <string>

namespace os {

// Called with the path of each directory just before the remover enters it (dir itself first).
using RemoveTreeVisitor = std::function<void(const std::string& directory)>;

// Removes dir and everything below it, depth first, in the order the file system lists the
// entries. Returns true when dir itself was removed. An entry that cannot be deleted is left in
// place and keeps its directories, so the answer is false; the rest is still removed. dir must
// be a directory: a link or a file there is not touched and the answer is false.
bool RemoveTree(const std::string& dir, const RemoveTreeVisitor& onDirectory = nullptr);

}  // namespace os
