#include "update/EntryFailure.h"

#include <cstring>

#include "os/CodePage.h"
#include "os/ContainedFolders.h"
#include "update/DiskFailure.h"
#include "update/UpdateLog.h"

namespace {
const char* const kFunc = update_log::kUnzipEntries;
}

PackageExtractor::Result ReportEntryFailure(int error, const std::string& entryName, const std::string& folder,
                                            int& localError) {
  if (!folder.empty() && error == os::ContainedFolders::kLeadsOutside) {
    update_log::Error(update_log::Format(update_log::kShort, "refused folder leading outside the client directory:%s",
                                         os::AnsiToUtf8(folder).c_str()),
                      kFunc, 428);
  } else if (IsDiskError(error)) {
    update_log::Error(update_log::Format(update_log::kShort, "cannot write %s: %s", os::AnsiToUtf8(entryName).c_str(),
                                         std::strerror(error)),
                      kFunc, 470);
  } else {
    return PackageExtractor::Result::EntryFailed;
  }
  localError = error;
  return PackageExtractor::Result::LocalFailure;
}
