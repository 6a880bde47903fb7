// Folders made below one root folder and never outside it: what an archive's entry names asks for
// is made one level at a time, and a folder that already stands there is used only when it really
// lies inside the root (a link leading elsewhere is not followed; one leading to another folder
// of the root is). The root itself may be a link. Owner thread only.
#pragma once

#include <cerrno>
#include <string>
#include <unordered_set>

namespace os {

class ContainedFolders {
 public:
  // root must exist; Make fails with Error() (the errno) while it cannot be resolved.
  explicit ContainedFolders(const std::string& root);
  ContainedFolders(const ContainedFolders&) = delete;
  ContainedFolders& operator=(const ContainedFolders&) = delete;

  // The errno of resolving the root; 0 when it resolved.
  int Error() const { return error_; }

  // Makes the folder `relative` ('/'-separated, below the root) and its missing parents. Returns
  // 0, or: kLeadsOutside when a link on the way leads outside the root or nowhere (nothing is made
  // beyond it); ENOTDIR when something other than a folder stands on the way; EINVAL for an absolute
  // name or a ".." part; otherwise the errno of the failed lstat or mkdir. A folder made or checked
  // once is not looked at again by this object.
  int Make(const std::string& relative);

  // A code no folder call returns ("cross-device link"): the way out of the root through a link.
  static constexpr int kLeadsOutside = EXDEV;

 private:
  // Whether the real path of path lies inside the root's.
  bool Inside(const std::string& path) const;

  std::string root_;
  std::string realRoot_;
  int error_ = 0;
  std::unordered_set<std::string> made_;  // relative folders known to be sound
};

}  // namespace os
