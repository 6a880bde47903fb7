#include "update/StagedInstaller.h"

#include <minizip/unzip.h>

#include <utility>

#include "os/CodePage.h"
#include "os/ContainedFolders.h"
#include "os/FileMove.h"
#include "os/FileSystem.h"
#include "os/RemoveTree.h"
#include "os/Umask.h"
#include "update/ArchiveInput.h"
#include "update/EntryFailure.h"
#include "update/EntryMode.h"
#include "update/EntryName.h"
#include "update/UpdateLog.h"

namespace {

const char* const kUnzipFunc = update_log::kUnzipEntries;
const char* const kInstallFunc = update_log::kUnzipPackage;
constexpr size_t kNameBuffer = 512;

// Where the data of the entry minizip is on starts, as its local header says; 0 when unreadable.
uint64_t DataOffset(unzFile zip) {
  int method = 0;
  int level = 0;
  if (unzOpenCurrentFile2(zip, &method, &level, 1) != UNZ_OK) return 0;
  const uint64_t offset = static_cast<uint64_t>(unzGetCurrentFileZStreamPos64(zip));
  unzCloseCurrentFile(zip);
  return offset;
}

// The entry of the archive's directory that does not match the staged one, and how; empty when
// every staged entry matches the directory's entry in its place. modes receives each staged
// entry's permission bits, count the archive's number of entries.
std::string Disagreement(unzFile zip, const std::vector<StagedEntry>& staged, std::vector<unsigned>& modes,
                         uint64_t& count) {
  unz_global_info64 global;
  if (unzGetGlobalInfo64(zip, &global) != UNZ_OK) return "directory unreadable";
  if (global.number_entry < staged.size())
    return std::to_string(global.number_entry) + " entries, " + std::to_string(staged.size()) + " staged";
  count = global.number_entry;
  const unsigned umask = os::CurrentUmask();
  for (size_t i = 0; i < staged.size(); ++i) {
    const StagedEntry& s = staged[i];
    const std::string at = "entry " + std::to_string(i + 1) + " ";
    unz_file_info64 info;
    char name[kNameBuffer + 1] = {};
    if (unzGetCurrentFileInfo64(zip, &info, name, kNameBuffer, nullptr, 0, nullptr, 0) != UNZ_OK)
      return at + "unreadable";
    if (s.name != name) return at + "named " + os::AnsiToUtf8(name) + ", staged " + os::AnsiToUtf8(s.name);
    if (static_cast<int>(info.compression_method) != s.method || info.compressed_size != s.compressedSize ||
        info.uncompressed_size != s.size || static_cast<uint32_t>(info.crc) != s.crc)
      return at + os::AnsiToUtf8(s.name) + ": method, sizes or CRC-32 differ";
    if (DataOffset(zip) != s.dataOffset) return at + os::AnsiToUtf8(s.name) + ": its data lie elsewhere";
    modes.push_back(StoredMode(info, umask));
    if (i + 1 < staged.size() && unzGoToNextFile(zip) != UNZ_OK) return at + "is the last";
  }
  return std::string();
}

}  // namespace

StagedInstaller::StagedInstaller(std::string stagingDir, std::string destinationDir,
                                 PackageExtractor::Callbacks callbacks)
    : stagingDir_(std::move(stagingDir)),
      destinationDir_(std::move(destinationDir)),
      callbacks_(std::move(callbacks)) {}

std::optional<PackageExtractor::Result> StagedInstaller::Install(const std::string& archivePath,
                                                                 const std::vector<StagedEntry>& staged) {
  using Result = PackageExtractor::Result;
  std::vector<unsigned> modes;
  uint64_t n = 0;
  {
    CachedArchive archive(os::Utf8ToAnsi(archivePath));
    const std::string disagreement =
        archive.Get() ? Disagreement(archive.Get(), staged, modes, n) : std::string("archive unreadable");
    if (!disagreement.empty()) {
      update_log::Error(
          update_log::Format(update_log::kShort, "staged files do not match the archive's directory (%s): unzipping it",
                             disagreement.c_str()),
          kInstallFunc, 761);
      return std::nullopt;
    }
  }

  update_log::Info(update_log::Format(update_log::kShort, "unzip file:%s begin", archivePath.c_str()), kUnzipFunc, 393);
  if (callbacks_.started) callbacks_.started();
  {
    // Folders are made here, inside the client only, as the extraction makes them.
    os::ContainedFolders folders(destinationDir_);
    for (uint64_t i = 1; i <= staged.size(); ++i) {
      if (callbacks_.stop && callbacks_.stop()) return Result::Stopped;
      const StagedEntry& entry = staged[i - 1];
      update_log::Info(os::AnsiToUtf8(entry.name), kUnzipFunc, 426);
      const std::string path = EntryPath(entry.name);
      const int folderError = folders.Make(EntryFolder(path));
      if (IsFolderEntry(path)) {
        // Its folder is made above; one that cannot be is ignored, as the files it would hold fail.
      } else if (folderError != 0) {
        return ReportEntryFailure(folderError, entry.name, EntryFolder(path), localError_);
      } else if (const int error = os::MoveFileOver(os::JoinPath(stagingDir_, path),
                                                    os::JoinPath(destinationDir_, path), modes[i - 1]);
                 error != 0) {
        return ReportEntryFailure(error, entry.name, std::string(), localError_);
      }
      if (callbacks_.progress) callbacks_.progress(i, n);
    }
  }
  os::RemoveTree(stagingDir_);  // only the folders are left
  if (staged.size() == n) {
    update_log::Info("unzip is finish!", kUnzipFunc, 489);
    return Result::Done;
  }
  // The entries the staging did not reach, from the package that is verified now.
  PackageExtractor rest(destinationDir_, callbacks_);
  const Result result = rest.Extract(archivePath, staged.size());
  localError_ = rest.LocalError();
  return result;
}
