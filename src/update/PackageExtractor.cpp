#include "update/PackageExtractor.h"

#include <minizip/unzip.h>
#include <sys/stat.h>
#include <cstdio>
#include <functional>
#include <utility>

#include "os/CodePage.h"
#include "os/FileSystem.h"
#include "os/Umask.h"
#include "update/EntryCopier.h"
#include "update/UpdateLog.h"

namespace {

const char kFunc[] = "CGameRemoteConfig::OnUnzipFile";

constexpr size_t kNameBuffer = 512;

// Closes the archive on every way out.
class Archive {
 public:
  explicit Archive(const std::string& path) : zip_(unzOpen64(path.c_str())) {}
  ~Archive() {
    if (zip_) unzClose(zip_);
  }
  Archive(const Archive&) = delete;
  Archive& operator=(const Archive&) = delete;
  unzFile Get() const { return zip_; }

 private:
  unzFile zip_;
};

// An entry may only name a place inside the destination: no absolute path, no drive, no ".."
// component (with either separator, since archives made on Windows use both).
bool IsSafeEntryName(const std::string& name) {
  if (name.empty()) return true;
  if (name[0] == '/' || name[0] == '\\') return false;
  if (name.size() >= 2 && name[1] == ':') return false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of("/\\", start);
    if (end == std::string::npos) end = name.size();
    if (name.compare(start, end - start, "..") == 0) return false;
    start = end + 1;
  }
  return true;
}

// The current entry's information and name (cut to the name buffer); false when unreadable.
bool CurrentEntry(unzFile zip, unz_file_info64& info, std::string& name) {
  char buffer[kNameBuffer + 1] = {};
  if (unzGetCurrentFileInfo64(zip, &info, buffer, kNameBuffer, nullptr, 0, nullptr, 0) != UNZ_OK) return false;
  name = buffer;
  return true;
}

// Walks the archive's directory once and refuses it when any entry points outside the
// destination, so that a bad archive leaves nothing behind. The archive is back on its first
// entry afterwards.
PackageExtractor::Result CheckEntryNames(unzFile zip, uint64_t count) {
  for (uint64_t i = 1; i <= count; ++i) {
    unz_file_info64 info;
    std::string name;
    if (!CurrentEntry(zip, info, name)) return PackageExtractor::Result::Unreadable;
    if (!IsSafeEntryName(name)) {
      update_log::Error(update_log::Format(update_log::kShort, "refused entry outside the client directory:%s",
                                           os::AnsiToUtf8(name).c_str()),
                        kFunc, 427);
      return PackageExtractor::Result::UnsafeEntry;
    }
    if (i < count && unzGoToNextFile(zip) != UNZ_OK) return PackageExtractor::Result::Unreadable;
  }
  if (count > 0 && unzGoToFirstFile(zip) != UNZ_OK) return PackageExtractor::Result::Unreadable;
  return PackageExtractor::Result::Done;
}

// Permission bits stored by a Unix archiver (executables keep their execute bits), without the
// set-id and sticky bits and within the umask, as a file created here would be: an archive does
// not decide that others may write into the client. 0 when the entry carries none.
mode_t StoredMode(const unz_file_info64& info, mode_t umask) {
  const unsigned long kUnixHost = 3;
  if ((info.version >> 8) != kUnixHost) return 0;
  const mode_t stored = static_cast<mode_t>(info.external_fa >> 16);
  if ((stored & S_IFMT) != 0 && !S_ISREG(stored)) return 0;
  return stored & 0777 & ~umask;
}

enum class EntryResult { Written, Failed, Stopped };

// Copies the current entry into target; the partly written file stays on a failure or a stop.
EntryResult ExtractCurrentEntry(EntryCopier& copier, unzFile zip, const unz_file_info64& info,
                                const std::string& target, mode_t mode, const std::function<bool()>& stop) {
  if (stop && stop()) return EntryResult::Stopped;
  if (!copier.Open(zip, info)) return EntryResult::Failed;
  FILE* out = std::fopen(target.c_str(), "wbe");
  if (!out) return EntryResult::Failed;
  // The copier writes through the descriptor in large blocks; the stream itself stays empty.
  EntryResult result = EntryResult::Written;
  switch (copier.CopyTo(fileno(out), stop)) {
    case EntryCopier::Result::Done: break;
    case EntryCopier::Result::Failed: result = EntryResult::Failed; break;
    case EntryCopier::Result::Stopped: result = EntryResult::Stopped; break;
  }
  // A mode of 0 (none stored) would be no mode at all: the file keeps the one it was created with.
  if (result == EntryResult::Written && mode != 0) fchmod(fileno(out), mode);
  if (std::fclose(out) != 0 && result == EntryResult::Written) result = EntryResult::Failed;
  return result;
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
  if (Result checked = CheckEntryNames(archive.Get(), n); checked != Result::Done) return checked;

  EntryCopier copier(ansiPath);

  const mode_t umask = os::CurrentUmask();
  for (uint64_t i = 1; i <= n; ++i) {
    if (callbacks_.stop && callbacks_.stop()) return Result::Stopped;
    unz_file_info64 info;
    std::string entryName;
    if (!CurrentEntry(archive.Get(), info, entryName)) return Result::Unreadable;
    update_log::Info(os::AnsiToUtf8(entryName), kFunc, 426);

    const std::string target = destinationDir_ + "/" + entryName;
    if (!entryName.empty() && entryName.back() == '/') {
      os::MakeDirectory(target);  // one level; an existing directory is fine
    } else {
      switch (ExtractCurrentEntry(copier, archive.Get(), info, target, StoredMode(info, umask), callbacks_.stop)) {
        case EntryResult::Written: break;
        case EntryResult::Failed: return Result::EntryFailed;
        case EntryResult::Stopped: return Result::Stopped;
      }
    }

    if (i < n && unzGoToNextFile(archive.Get()) != UNZ_OK) return Result::Unreadable;
    if (callbacks_.progress) callbacks_.progress(i, n);
  }

  update_log::Info("unzip is finish!", kFunc, 489);
  return Result::Done;
}
