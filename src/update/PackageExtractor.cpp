#include "update/PackageExtractor.h"

#include <minizip/unzip.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <utility>

#include "os/CodePage.h"
#include "os/ContainedFolders.h"
#include "os/FileSystem.h"
#include "os/ReplacementFile.h"
#include "os/Umask.h"
#include "update/ArchiveInput.h"
#include "update/EntryCopier.h"
#include "update/EntryName.h"
#include "update/UpdateLog.h"

namespace {

const char kFunc[] = "CGameRemoteConfig::OnUnzipFile";

constexpr size_t kNameBuffer = 512;

// Closes the archive on every way out. Read through the block cache (ArchiveInput.h).
class Archive {
 public:
  explicit Archive(const std::string& path) : zip_(Open(path)) {}
  ~Archive() {
    if (zip_) unzClose(zip_);
  }
  Archive(const Archive&) = delete;
  Archive& operator=(const Archive&) = delete;
  unzFile Get() const { return zip_; }

 private:
  static unzFile Open(const std::string& path) {
    zlib_filefunc64_def functions;
    SetCachedArchiveInput(functions);
    return unzOpen2_64(path.c_str(), &functions);
  }

  unzFile zip_;
};

// The current entry's information and name (cut to the name buffer); false when unreadable.
bool CurrentEntry(unzFile zip, unz_file_info64& info, std::string& name) {
  char buffer[kNameBuffer + 1] = {};
  if (unzGetCurrentFileInfo64(zip, &info, buffer, kNameBuffer, nullptr, 0, nullptr, 0) != UNZ_OK) return false;
  name = buffer;
  return true;
}

// A file takes whole blocks; counting each entry in 4 KiB blocks keeps thousands of small files
// from passing a room check they then fail.
uint64_t Blocks(uint64_t bytes) { return (bytes + 4095) / 4096 * 4096; }

// Walks the archive's directory once and refuses it when any entry points outside the
// destination, so that a bad archive leaves nothing behind; adds up the room its files need less
// what the files they replace take now. The archive is back on its first entry afterwards.
PackageExtractor::Result CheckEntries(unzFile zip, uint64_t count, const std::string& destination, uint64_t& needed,
                                      uint64_t& freed) {
  needed = 0;
  freed = 0;
  for (uint64_t i = 1; i <= count; ++i) {
    unz_file_info64 info;
    std::string name;
    if (!CurrentEntry(zip, info, name)) return PackageExtractor::Result::Unreadable;
    const std::string path = EntryPath(name);
    if (!IsSafeEntryPath(path)) {
      update_log::Error(update_log::Format(update_log::kShort, "refused entry outside the client directory:%s",
                                           os::AnsiToUtf8(name).c_str()),
                        kFunc, 427);
      return PackageExtractor::Result::UnsafeEntry;
    }
    if (!path.empty() && !IsFolderEntry(path)) {
      needed += Blocks(info.uncompressed_size);
      const int64_t existing = os::RegularFileSize(os::JoinPath(destination, path));
      if (existing > 0) freed += Blocks(static_cast<uint64_t>(existing));
    }
    if (i < count && unzGoToNextFile(zip) != UNZ_OK) return PackageExtractor::Result::Unreadable;
  }
  if (count > 0 && unzGoToFirstFile(zip) != UNZ_OK) return PackageExtractor::Result::Unreadable;
  return PackageExtractor::Result::Done;
}

// Whether a failed create, write or rename is the disk's doing (no room, no permission, an I/O
// error, a folder where the file goes) rather than the archive's (a name whose folder it never
// made, a name the file system cannot hold).
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

// Permission bits stored by a Unix archiver (executables keep their execute bits), without the
// set-id and sticky bits and within the umask, as a file created here would be: an archive does
// not decide that others may write into the client. 0 when the entry carries none.
unsigned StoredMode(const unz_file_info64& info, unsigned umask) {
  const unsigned long kUnixHost = 3;
  constexpr unsigned kTypeBits = 0170000;  // the Unix file type in the stored mode
  constexpr unsigned kRegular = 0100000;
  if ((info.version >> 8) != kUnixHost) return 0;
  const unsigned stored = static_cast<unsigned>(info.external_fa >> 16);
  if ((stored & kTypeBits) != 0 && (stored & kTypeBits) != kRegular) return 0;
  return stored & 0777 & ~umask;
}

enum class EntryResult { Written, Failed, Stopped };

// Copies the current entry into a new file that replaces target once complete; on a failure or a
// stop the target stays as it was. error is the errno of a failed create, write or rename.
EntryResult ExtractCurrentEntry(EntryCopier& copier, unzFile zip, const unz_file_info64& info,
                                const std::string& target, unsigned mode, const std::function<bool()>& stop,
                                int& error) {
  error = 0;
  if (stop && stop()) return EntryResult::Stopped;
  if (!copier.Open(zip, info)) return EntryResult::Failed;
  os::ReplacementFile out(target, mode);
  if (!out.Output().IsOpen()) {
    error = out.Error();
    return EntryResult::Failed;
  }
  switch (copier.CopyTo(out.Output(), stop)) {
    case EntryCopier::Result::Done: break;
    case EntryCopier::Result::Failed: error = copier.WriteError(); return EntryResult::Failed;
    case EntryCopier::Result::Stopped: return EntryResult::Stopped;
  }
  error = out.Commit();
  return error == 0 ? EntryResult::Written : EntryResult::Failed;
}

}  // namespace

PackageExtractor::PackageExtractor(std::string destinationDir, Callbacks callbacks)
    : destinationDir_(std::move(destinationDir)), callbacks_(std::move(callbacks)) {}

PackageExtractor::Result PackageExtractor::Extract(const std::string& archivePath) {
  update_log::Info(update_log::Format(update_log::kShort, "unzip file:%s begin", archivePath.c_str()), kFunc, 393);
  if (callbacks_.started) callbacks_.started();

  const std::string ansiPath = os::Utf8ToAnsi(archivePath);
  Archive archive(ansiPath);
  if (!archive.Get()) {
    update_log::Error("zipfile is NULL!", kFunc, 401);
    return Result::CannotOpen;
  }
  unz_global_info64 global;
  if (unzGetGlobalInfo64(archive.Get(), &global) != UNZ_OK) {
    update_log::Error("unzGetGlobalInfo is error!", kFunc, 409);
    return Result::Unreadable;
  }

  const uint64_t n = global.number_entry;
  uint64_t needed = 0;
  uint64_t freed = 0;
  if (Result checked = CheckEntries(archive.Get(), n, destinationDir_, needed, freed); checked != Result::Done)
    return checked;
  // Too little room is told before a file is touched, not after half the client was replaced.
  const int64_t available = os::FreeBytes(destinationDir_);
  if (available >= 0 && needed > freed && needed - freed > static_cast<uint64_t>(available)) {
    update_log::Error(
        update_log::Format(update_log::kShort, "not enough room to unzip: %llu bytes needed, %lld free",
                           static_cast<unsigned long long>(needed - freed), static_cast<long long>(available)),
        kFunc, 412);
    localError_ = ENOSPC;
    return Result::LocalFailure;
  }

  EntryCopier copier(ansiPath);
  // Folders the entries need are made here, inside the destination only, whether or not the
  // archive lists them (many archivers leave folder entries out).
  os::ContainedFolders folders(destinationDir_);
  const auto folderFailed = [this](int error, const std::string& entryName, const std::string& folder) {
    if (error == os::ContainedFolders::kLeadsOutside) {
      update_log::Error(update_log::Format(update_log::kShort, "refused folder leading outside the client directory:%s",
                                           os::AnsiToUtf8(folder).c_str()),
                        kFunc, 428);
    } else if (IsDiskError(error)) {
      update_log::Error(update_log::Format(update_log::kShort, "cannot write %s: %s", os::AnsiToUtf8(entryName).c_str(),
                                           std::strerror(error)),
                        kFunc, 470);
    } else {
      return Result::EntryFailed;
    }
    localError_ = error;
    return Result::LocalFailure;
  };

  const unsigned umask = os::CurrentUmask();
  for (uint64_t i = 1; i <= n; ++i) {
    if (callbacks_.stop && callbacks_.stop()) return Result::Stopped;
    unz_file_info64 info;
    std::string entryName;
    if (!CurrentEntry(archive.Get(), info, entryName)) return Result::Unreadable;
    update_log::Info(os::AnsiToUtf8(entryName), kFunc, 426);

    const std::string path = EntryPath(entryName);
    const std::string target = os::JoinPath(destinationDir_, path);
    const int folderError = folders.Make(EntryFolder(path));
    if (IsFolderEntry(path)) {
      // Its folder is made above; one that cannot be is ignored, as the files it would hold fail.
    } else if (folderError != 0) {
      return folderFailed(folderError, entryName, EntryFolder(path));
    } else {
      int error = 0;
      switch (
          ExtractCurrentEntry(copier, archive.Get(), info, target, StoredMode(info, umask), callbacks_.stop, error)) {
        case EntryResult::Written: break;
        case EntryResult::Failed:
          if (!IsDiskError(error)) return Result::EntryFailed;
          update_log::Error(update_log::Format(update_log::kShort, "cannot write %s: %s",
                                               os::AnsiToUtf8(entryName).c_str(), std::strerror(error)),
                            kFunc, 470);
          localError_ = error;
          return Result::LocalFailure;
        case EntryResult::Stopped: return Result::Stopped;
      }
    }

    if (i < n && unzGoToNextFile(archive.Get()) != UNZ_OK) return Result::Unreadable;
    if (callbacks_.progress) callbacks_.progress(i, n);
  }

  update_log::Info("unzip is finish!", kFunc, 489);
  return Result::Done;
}
