#include "update/DiskFailure.h"

#include <cerrno>

const char* DiskFailureMessage(int error) {
  bool noSpace = error == ENOSPC;
#ifdef EDQUOT  // a quota is full: no space for this user (not every platform has it)
  noSpace = noSpace || error == EDQUOT;
#endif
  if (noSpace) return "磁盘空间不足,请清理后重试";
  return "无法写入游戏目录,请检查磁盘后重试";
}

void ShowDiskFailure(IWindowOperations* window, int error) {
  if (!window) return;
  window->SetProgress(DiskFailureMessage(error), "", 0, 0);
  window->ShowMessageView();
}

bool IsDiskError(int error) {
  switch (error) {
    case 0:
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case EILSEQ:
    case EINVAL: return false;
    default: return true;
  }
}
