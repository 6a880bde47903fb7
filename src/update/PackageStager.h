// Unpacking the package while it downloads: on a thread of its own the stager follows the growing
// package file (GrowingPackage, fed with the bytes the download has written), reads each entry
// from its local header and unpacks it into the staging folder beside the client, with the
// extraction's name checks (EntryName) and folders made inside the staging folder only
// (ContainedFolders). Nothing reaches the client here: StagedInstaller moves the files once the
// package is verified. The entries staged are always the package's first ones: the staging ends
// at an entry it cannot read in order (encrypted, a method other than stored or deflated, a stored
// entry whose sizes follow its data), at any failure, when the download outruns it (StagingPace)
// and, after the entry it is unpacking, when the download ends; the entries after it are then
// extracted from the verified package on every core. An entry begun is never given up for the
// pace: the stager waits inside it for the download's end and finishes it then. Start, Finish and the destructor on the
// update worker; Advance on any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "os/ContainedFolders.h"
#include "os/DirectReader.h"

#include "update/BackgroundSync.h"
#include "update/GrowingPackage.h"
#include "update/Inflater.h"
#include "update/StagedEntry.h"
#include "update/StagingPace.h"

class PackageStager {
 public:
  // stop (asked between blocks on the staging thread) is the download's cancel; toCome tells how
  // many bytes of the package are still to be downloaded (any thread). The staging never takes
  // the room those bytes need: it ends when a file would leave less free.
  PackageStager(std::string packagePath, std::string stagingDir, std::function<bool()> stop,
                std::function<int64_t()> toCome);
  // Ends the staging thread if it still runs.
  ~PackageStager();
  PackageStager(const PackageStager&) = delete;
  PackageStager& operator=(const PackageStager&) = delete;

  // Makes an empty staging folder (whatever an earlier run left there goes) and starts the thread.
  // False (logged) when that cannot be done: nothing is staged.
  bool Start();
  // The package file now holds bytesInFile bytes written by the download (any thread).
  void Advance(int64_t bytesInFile);
  // The download has ended, with every byte of the package in the file when complete; lets the
  // thread finish the entry it is unpacking and waits for it. True when the package's first
  // entries (Entries(), at least one) were staged; how far the staging went and why it ended
  // there are logged.
  bool Finish(bool complete);
  // Removes what a staging left in stagingDir (worker).
  static void Discard(const std::string& stagingDir);

  // The staged entries, the package's first ones in its order (staging thread until Finish).
  const std::vector<StagedEntry>& Entries() const { return entries_; }

 private:
  void Run();  // staging thread
  // Stages the entry whose local header is at offset and moves offset past it; false with why_ set.
  bool StageEntry(uint64_t& offset, bool& directoryReached);
  // Where an entry's bytes go: 0 or the errno of the write.
  using Sink = std::function<int(const uint8_t* data, size_t size)>;
  bool CopyStored(const Sink& out, StagedEntry& entry);
  bool CopyDeflated(const Sink& out, StagedEntry& entry, bool sizesFollow, bool zip64, uint64_t& end);
  bool Fail(std::string why);
  bool Stopping() const;
  // Between entries: false with why_ set when asked to stop, when the download has ended or
  // outruns the staging, which is at offset in the package (staging thread).
  bool NextEntryWanted(uint64_t offset);
  // Inside an entry, at offset in the package: false with why_ set when asked to stop. When the
  // download outruns the staging, waits for the download's end first (staging thread).
  bool KeepGoing(uint64_t offset);
  StagingPace PaceAt(uint64_t offset);
  // A large entry whose sizes are known is read past the page cache (the download wrote the
  // package so), ahead of the inflater, each block once it has arrived; null for the others, read
  // in blocks from the growing package (staging thread).
  std::unique_ptr<os::DirectReader> LargeEntryInput(const StagedEntry& entry, bool sizesFollow);
  bool NextInput(os::DirectReader& reader, const uint8_t*& data, size_t& size);
  // How long the staging thread waited for the package's bytes in all.
  std::chrono::steady_clock::duration Waited();
  static std::string Outran(const StagingPace& pace);
  // The stager's own pace is measured on entries of at least a read block whose sizes are known,
  // from the start of their data to their end, waits for bytes left out (staging thread).
  void BeginMeasure(const StagedEntry& entry, bool sizesFollow);
  void EndMeasure(uint64_t offset);
  // Seconds since the measured entry began, without the waits for its bytes.
  double SecondsMeasured();

  const std::string stagingDir_;
  const std::function<bool()> stop_;
  const std::function<int64_t()> toCome_;
  GrowingPackage package_;
  std::unique_ptr<Inflater> inflater_;
  std::unique_ptr<uint8_t[]> in_;
  std::unique_ptr<uint8_t[]> out_;
  std::vector<StagedEntry> entries_;
  std::unordered_set<std::string> names_;          // entry paths staged (staging thread)
  std::unique_ptr<os::ContainedFolders> folders_;  // inside the staging folder (staging thread)
  std::string why_;                                // why the staging ended early
  std::unique_ptr<BackgroundSync> durable_;        // of the staged files (staging thread)
  // When the stager first found bytes in the package and how many there were (staging thread).
  std::chrono::steady_clock::time_point paceStart_;
  uint64_t inFileAtStart_ = 0;
  uint64_t measuredBytes_ = 0;  // of entries measured to their end (staging thread)
  double measuredSeconds_ = 0;
  bool measuring_ = false;  // the entry being unpacked is measured (staging thread)
  uint64_t measureFrom_ = 0;
  std::chrono::steady_clock::time_point measureStart_;
  std::chrono::steady_clock::duration waitedAtMeasureStart_{};
  std::chrono::steady_clock::duration readerWaited_{};  // in DirectReader::Next (staging thread)
  bool staged_ = false;
  bool started_ = false;
  std::atomic<bool> abandoned_{false};
  std::atomic<bool> finishing_{false};  // the download is complete: no entry is begun any more
  bool paused_ = false;                 // waited for the download's end inside an entry (staging thread)
  std::thread thread_;
};
