#include "update/PackageExtractor.h"

#include <minizip/unzip.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <thread>
#include <unordered_map>
#include <utility>

#include "os/CodePage.h"
#include "os/ContainedFolders.h"
#include "os/FileSystem.h"
#include "os/ReplacementFile.h"
#include "os/Umask.h"
#include "update/ArchiveInput.h"
#include "update/BackgroundSync.h"
#include "update/EntryCopier.h"
#include "update/EntryFailure.h"
#include "update/EntryMode.h"
#include "update/EntryName.h"
#include "update/EntryPipeline.h"
#include "update/UpdateLog.h"

namespace {

const char* const kFunc = update_log::kUnzipEntries;

constexpr size_t kNameBuffer = 512;

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
// destination, so that a bad archive leaves nothing behind; adds up the room the files after the
// first entries need less what the files they replace take now. The archive is back on its first
// entry afterwards.
PackageExtractor::Result CheckEntries(unzFile zip, uint64_t count, uint64_t first, const std::string& destination,
                                      uint64_t& needed, uint64_t& freed) {
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
    if (i > first && !path.empty() && !IsFolderEntry(path)) {
      needed += Blocks(info.uncompressed_size);
      const int64_t existing = os::RegularFileSize(os::JoinPath(destination, path));
      if (existing > 0) freed += Blocks(static_cast<uint64_t>(existing));
    }
    if (i < count && unzGoToNextFile(zip) != UNZ_OK) return PackageExtractor::Result::Unreadable;
  }
  if (count > 0 && unzGoToFirstFile(zip) != UNZ_OK) return PackageExtractor::Result::Unreadable;
  return PackageExtractor::Result::Done;
}

using Result = PackageExtractor::Result;

// What both ways of extracting work on: the archive positioned on its first entry, its entries
// checked and the room for them found. Update worker.
struct Extraction {
  unzFile zip;
  uint64_t count;
  uint64_t first;                  // entries before it are in place already; the archive is positioned on it
  const std::string& archivePath;  // as minizip was handed it
  const std::string& destination;
  const PackageExtractor::Callbacks& callbacks;
  int& localError;
  BackgroundSync* durable;  // told of every file written; none for a small extraction

  bool StopAsked() const { return callbacks.stop && callbacks.stop(); }
  void Progress(uint64_t index) const {
    if (callbacks.progress) callbacks.progress(index, count);
  }
  void Written(uint64_t bytes) const {
    if (durable) durable->Written(bytes);
  }
};

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

// Every entry in the archive's order on the calling thread, one after the other.
Result ExtractInOrder(const Extraction& x) {
  EntryCopier copier(x.archivePath);
  // Folders the entries need are made here, inside the destination only, whether or not the
  // archive lists them (many archivers leave folder entries out).
  os::ContainedFolders folders(x.destination);
  const unsigned umask = os::CurrentUmask();
  for (uint64_t i = x.first + 1; i <= x.count; ++i) {
    if (x.StopAsked()) return Result::Stopped;
    unz_file_info64 info;
    std::string entryName;
    if (!CurrentEntry(x.zip, info, entryName)) return Result::Unreadable;
    update_log::Info(os::AnsiToUtf8(entryName), kFunc, 426);

    const std::string path = EntryPath(entryName);
    const std::string target = os::JoinPath(x.destination, path);
    const int folderError = folders.Make(EntryFolder(path));
    if (IsFolderEntry(path)) {
      // Its folder is made above; one that cannot be is ignored, as the files it would hold fail.
    } else if (folderError != 0) {
      return ReportEntryFailure(folderError, entryName, EntryFolder(path), x.localError);
    } else {
      int error = 0;
      switch (ExtractCurrentEntry(copier, x.zip, info, target, StoredMode(info, umask), x.callbacks.stop, error)) {
        case EntryResult::Written: x.Written(info.uncompressed_size); break;
        case EntryResult::Failed: return ReportEntryFailure(error, entryName, std::string(), x.localError);
        case EntryResult::Stopped: return Result::Stopped;
      }
    }

    if (i < x.count && unzGoToNextFile(x.zip) != UNZ_OK) return Result::Unreadable;
    x.Progress(i);
  }
  return Result::Done;
}

// The same on several threads: this one reads the archive's directory ahead, makes the folders
// and hands each file entry to the pipeline; the entries are reported (log line, outcome, progress)
// and their files renamed into place here, in the archive's order, as ExtractInOrder does, so that
// an entry after the first failure or after a stop never replaces a file.
class ReadAhead {
 public:
  ReadAhead(const Extraction& x, EntryPipeline& pipeline) : x_(x), pipeline_(pipeline), folders_(x.destination) {}

  Result Run() {
    const unsigned umask = os::CurrentUmask();
    for (uint64_t i = x_.first + 1; i <= x_.count; ++i) {
      if (x_.StopAsked()) return Result::Stopped;
      Result result = Result::Done;
      // What is ready is reported at once, so that progress keeps pace with the copying.
      while (!pending_.empty() && ReportOldest(false, result)) {
        if (result != Result::Done) return result;
      }
      while (pipeline_.Full()) {
        if (ReportOldest(true, result); result != Result::Done) return result;
      }
      if (!ReadEntry(i, umask)) break;  // nothing after it would be reported
    }
    while (!pending_.empty()) {
      Result result = Result::Done;
      if (ReportOldest(true, result); result != Result::Done) return result;
    }
    return Result::Done;
  }

 private:
  // An entry read and not yet reported.
  struct Pending {
    uint64_t index = 0;
    bool named = false;  // its information could be read
    std::string name;
    std::string path;
    int folderError = 0;   // the folder it needs could not be made
    bool located = false;  // a file entry whose data could be found
    uint64_t size = 0;
    bool copied = false;  // handed to the pipeline
    bool taken = false;   // its outcome is in outcome
    EntryPipeline::Outcome outcome;
    bool nextUnreadable = false;  // the archive could not be read past it
  };

  // Reads entry i and hands its data over; false when nothing after it is to be read (the
  // archive cannot be, or this entry already fails).
  bool ReadEntry(uint64_t i, unsigned umask) {
    pending_.emplace_back();
    Pending& p = pending_.back();
    p.index = i;
    unz_file_info64 info;
    if (!CurrentEntry(x_.zip, info, p.name)) return false;
    p.named = true;
    p.path = EntryPath(p.name);
    const std::string folder = EntryFolder(p.path);
    // A folder still to be written as a file before it (a broken archive) is made only once that
    // file was, as one after the other would.
    if (NamesWaitingFile(folder)) {
      Result result = Result::Done;
      while (pending_.size() > 1) {
        if (ReportOldest(true, result); result != Result::Done) {
          // The entry just read is never reported: the failure before it ends the extraction.
          failed_ = result;
          return false;
        }
      }
    }
    p.folderError = folders_.Make(folder);
    if (!IsFolderEntry(p.path)) {
      if (p.folderError != 0) return false;
      EntryPipeline::Entry entry;
      p.located = EntryCopier::Locate(x_.zip, info, entry.location);
      if (!p.located) return false;
      entry.target = os::JoinPath(x_.destination, p.path);
      entry.mode = StoredMode(info, umask);
      p.size = info.uncompressed_size;
      pipeline_.Add(std::move(entry));
      p.copied = true;
      ++waitingFiles_[p.path];
    }
    if (i < x_.count && unzGoToNextFile(x_.zip) != UNZ_OK) {
      p.nextUnreadable = true;
      return false;
    }
    return true;
  }

  // Whether folder or a folder above it is the name of a file entry not yet reported.
  bool NamesWaitingFile(std::string folder) const {
    while (!folder.empty()) {
      if (waitingFiles_.count(folder) != 0) return true;
      const size_t slash = folder.rfind('/');
      folder.resize(slash == std::string::npos ? 0 : slash);
    }
    return false;
  }

  // Reports the oldest pending entry as ExtractInOrder would have, with result Done when it was
  // written and what ends the extraction otherwise. With wait false, false when its data are still
  // being copied (nothing reported); with wait, waits for them while no stop is asked.
  bool ReportOldest(bool wait, Result& result) {
    result = Result::Done;
    if (failed_ != Result::Done) {
      result = failed_;
      return true;
    }
    Pending& p = pending_.front();
    if (p.copied && !p.taken) {
      if (!wait) {
        if (!pipeline_.Take(p.outcome, std::chrono::milliseconds(0))) return false;
      } else {
        // The stop is asked while waiting too, as often as the copying would ask it per block.
        while (!pipeline_.Take(p.outcome, std::chrono::milliseconds(10))) {
          if (x_.StopAsked()) {
            result = Result::Stopped;
            return true;
          }
        }
      }
      p.taken = true;
    }
    result = Report(p);
    if (p.copied) {
      auto it = waitingFiles_.find(p.path);
      if (it != waitingFiles_.end() && --it->second == 0) waitingFiles_.erase(it);
    }
    pending_.pop_front();
    return true;
  }

  Result Report(Pending& p) {
    if (x_.StopAsked()) return Result::Stopped;
    if (!p.named) return Result::Unreadable;
    update_log::Info(os::AnsiToUtf8(p.name), kFunc, 426);
    if (!IsFolderEntry(p.path)) {
      if (p.folderError != 0) return ReportEntryFailure(p.folderError, p.name, EntryFolder(p.path), x_.localError);
      if (!p.located) return Result::EntryFailed;
      switch (p.outcome.status) {
        case EntryPipeline::Outcome::Status::Copied: break;
        case EntryPipeline::Outcome::Status::Failed:
          return ReportEntryFailure(p.outcome.error, p.name, std::string(), x_.localError);
        case EntryPipeline::Outcome::Status::Stopped: return Result::Stopped;
      }
      if (const int error = p.outcome.file->Commit(); error != 0)
        return ReportEntryFailure(error, p.name, std::string(), x_.localError);
      p.outcome.file.reset();
      x_.Written(p.size);
    }
    if (p.nextUnreadable) return Result::Unreadable;
    x_.Progress(p.index);
    return Result::Done;
  }

  const Extraction& x_;
  EntryPipeline& pipeline_;
  os::ContainedFolders folders_;
  std::deque<Pending> pending_;
  std::unordered_map<std::string, unsigned> waitingFiles_;  // paths of file entries handed over, not reported
  Result failed_ = Result::Done;                            // a failure met while reading ahead, reported next
};

}  // namespace

PackageExtractor::PackageExtractor(std::string destinationDir, Callbacks callbacks, unsigned threads)
    : destinationDir_(std::move(destinationDir)), callbacks_(std::move(callbacks)), threads_(threads) {
  if (threads_ == 0) threads_ = std::thread::hardware_concurrency();
  if (threads_ == 0) threads_ = 1;  // the count is not known
}

PackageExtractor::Result PackageExtractor::Extract(const std::string& archivePath, uint64_t installed) {
  if (installed == 0) {
    update_log::Info(update_log::Format(update_log::kShort, "unzip file:%s begin", archivePath.c_str()), kFunc, 393);
    if (callbacks_.started) callbacks_.started();
  }

  const std::string ansiPath = os::Utf8ToAnsi(archivePath);
  CachedArchive archive(ansiPath);
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
  if (installed > n) return Result::Unreadable;  // the caller's entries are not this archive's
  if (Result checked = CheckEntries(archive.Get(), n, installed, destinationDir_, needed, freed);
      checked != Result::Done)
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

  for (uint64_t i = 0; i < installed && installed < n; ++i) {
    if (unzGoToNextFile(archive.Get()) != UNZ_OK) return Result::Unreadable;
  }
  // The disk takes the files while later ones are inflated, not all at the final sync.
  std::unique_ptr<BackgroundSync> durable;
  if (needed >= BackgroundSync::kEvery) durable = std::make_unique<BackgroundSync>(destinationDir_);
  const Extraction x{archive.Get(), n, installed, ansiPath, destinationDir_, callbacks_, localError_, durable.get()};
  Result result = Result::Done;
  if (threads_ > 1 && n - installed > 1) {
    EntryPipeline pipeline(ansiPath, threads_);
    result = pipeline.Workers() > 0 ? ReadAhead(x, pipeline).Run() : ExtractInOrder(x);
  } else {
    result = ExtractInOrder(x);
  }
  if (result != Result::Done) return result;
  update_log::Info("unzip is finish!", kFunc, 489);
  return Result::Done;
}
