// Extraction of a zip archive's entries into a directory, and nothing else: entries are written
// in the archive's order (directory entries become directories, stored Unix permission bits are
// kept within the umask), an archive naming any place outside the directory is refused before
// anything is written, and the caller can stop it between two blocks. Entries are copied on
// several threads where the machine has several cores (EntryPipeline), with the same files,
// log lines, progress and result as one after the other: the callbacks and the log lines stay on
// the calling thread, in the archive's order. What follows an extraction
// (the package, registration, the version record) and what the player or the telemetry server hear
// about it belong to the caller. Runs on the update worker (entries' data are copied by
// EntryCopier); its log lines belong to CGameRemoteConfig::OnUnzipFile.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

class PackageExtractor {
 public:
  enum class Result {
    Done,
    CannotOpen,    // missing, not a zip, or cut short (no central directory)
    Unreadable,    // the archive's directory cannot be read
    UnsafeEntry,   // an entry names a place outside the destination
    EntryFailed,   // an entry could not be read, or the archive names it so it cannot be made
    LocalFailure,  // the disk refused: too little room before the start, or an entry's create,
                   // write or rename failed (LocalError() tells the errno)
    Stopped,       // the caller's stop said so (what was written stays)
  };

  struct Callbacks {
    // Once the begin line is logged, before the archive is opened.
    std::function<void()> started;
    // After entry `index` (from 1) of `count` has been written, in the archive's order.
    std::function<void(uint64_t index, uint64_t count)> progress;
    // Asked before every entry and, while an entry is copied, before every block (copying on the
    // calling thread) or every few milliseconds (on several); true ends the extraction as Stopped.
    std::function<bool()> stop;
  };

  // destinationDir must exist; entry names are joined to it with '\' read as '/', and the folders
  // they need are made inside it (a link leading out of it is not followed). threads copy entries'
  // data: 0 takes one per core, 1 copies on the calling thread alone.
  explicit PackageExtractor(std::string destinationDir, Callbacks callbacks = {}, unsigned threads = 0);
  PackageExtractor(const PackageExtractor&) = delete;
  PackageExtractor& operator=(const PackageExtractor&) = delete;

  // Extracts every entry of the archive at archivePath; stops at the first failure. Each file is
  // written under a temporary name beside its target and renamed over it once complete, so a
  // failure or a stop leaves every file either old or new, never half written (earlier entries
  // stay written). installed is how many entries at the archive's start the caller has already
  // put in place and reported (the files staged during the download): the extraction goes on after
  // them, without its begin line, with the progress counting on from them; every entry's name is
  // still checked.
  Result Extract(const std::string& archivePath, uint64_t installed = 0);

  // After LocalFailure: the system's error.
  int LocalError() const { return localError_; }

 private:
  std::string destinationDir_;
  Callbacks callbacks_;
  unsigned threads_ = 1;
  int localError_ = 0;
};
