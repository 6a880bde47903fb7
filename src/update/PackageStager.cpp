#include "update/PackageStager.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <unordered_set>
#include <utility>

#include "os/CodePage.h"
#include "os/ContainedFolders.h"
#include "os/CrashHandler.h"
#include "os/DirectReader.h"
#include "os/DirectWriter.h"
#include "os/FileSystem.h"
#include "os/RemoveTree.h"
#include "os/ReplacementFile.h"
#include "update/EntryName.h"
#include "update/StagingPace.h"
#include "update/UpdateLog.h"

namespace {

const char kFunc[] = "CGameRemoteConfig::OnDownLoad";

constexpr uint32_t kLocalHeader = 0x04034b50;
constexpr uint32_t kDirectoryHeader = 0x02014b50;
constexpr uint32_t kDirectoryEnd = 0x06054b50;
constexpr uint32_t kDescriptor = 0x08074b50;
constexpr size_t kLocalHeaderSize = 30;
// Entry names as long as the extraction reads them (its name buffer); longer ones are cut alike.
constexpr size_t kNameBuffer = 512;
// Internal block sizes: stored bytes read per step, inflated bytes written per step.
constexpr size_t kReadBlock = 256 * 1024;
constexpr size_t kWriteBlock = 256 * 1024;
// From this size on an entry is written past the page cache, as the extraction writes it: fresh
// page-cache pages are dear on a virtual machine, and the last sync has nothing of it to write.
constexpr uint64_t kLargeEntry = 8 * 1024 * 1024;
// Free room the staging leaves beyond the rest of the download (file system blocks, the log).
constexpr uint64_t kRoomMargin = 64 * 1024 * 1024;

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) { return Le16(p) | static_cast<uint32_t>(Le16(p + 2)) << 16; }
uint64_t Le64(const uint8_t* p) { return Le32(p) | static_cast<uint64_t>(Le32(p + 4)) << 32; }

// Sizes of 0xFFFFFFFF in a local header are in its zip64 extra field (id 1), in this order.
bool ReadZip64Sizes(const std::string& extra, uint64_t& size, uint64_t& compressedSize, bool& zip64) {
  for (size_t at = 0; at + 4 <= extra.size();) {
    const auto* p = reinterpret_cast<const uint8_t*>(extra.data() + at);
    const size_t length = Le16(p + 2);
    if (at + 4 + length > extra.size()) return false;
    if (Le16(p) == 1) {
      zip64 = true;
      size_t field = 4;
      for (uint64_t* value : {&size, &compressedSize}) {
        if (*value != 0xFFFFFFFFu) continue;
        if (field + 8 > 4 + length) return false;
        *value = Le64(p + field);
        field += 8;
      }
      return true;
    }
    at += 4 + length;
  }
  return size != 0xFFFFFFFFu && compressedSize != 0xFFFFFFFFu;
}

}  // namespace

PackageStager::PackageStager(std::string packagePath, std::string stagingDir, std::function<bool()> stop,
                             std::function<int64_t()> toCome)
    : stagingDir_(std::move(stagingDir)),
      stop_(std::move(stop)),
      toCome_(std::move(toCome)),
      package_(std::move(packagePath), [this] { return Stopping(); }),
      inflater_(NewInflater()),
      in_(new (std::nothrow) uint8_t[kReadBlock]),
      out_(new (std::nothrow) uint8_t[kWriteBlock]) {}

PackageStager::~PackageStager() {
  if (thread_.joinable()) Finish(false);
}

void PackageStager::Discard(const std::string& stagingDir) {
  // A link or a file standing there is removed itself, never followed.
  if (os::PathExists(stagingDir) && !os::RemoveTree(stagingDir)) os::RemoveFile(stagingDir);
}

bool PackageStager::Start() {
  Discard(stagingDir_);
  if (!inflater_ || !in_ || !out_ || os::MakeDirectory(stagingDir_) != 0) {
    update_log::Info("the package is unzipped after its download: no staging folder", kFunc, 672);
    return false;
  }
  started_ = true;
  thread_ = std::thread([this] { Run(); });
  return true;
}

void PackageStager::Advance(int64_t bytesInFile) { package_.Advance(bytesInFile); }

bool PackageStager::Stopping() const { return abandoned_.load() || (stop_ && stop_()); }

bool PackageStager::Finish(bool complete) {
  if (complete) {
    finishing_ = true;  // the entry being unpacked is finished, the rest is extracted on every core
  } else {
    abandoned_ = true;
  }
  package_.End();
  if (thread_.joinable()) thread_.join();
  if (!complete || !started_) return false;
  if (!package_.Intact()) {
    entries_.clear();
    Fail("the download started the package again");
  }
  if (entries_.empty()) {
    update_log::Info(
        update_log::Format(update_log::kShort, "the package is unzipped after its download: %s", why_.c_str()), kFunc,
        672);
    return false;
  }
  if (staged_) {
    update_log::Info(update_log::Format(update_log::kShort, "package staged while downloading: %llu entries",
                                        static_cast<unsigned long long>(entries_.size())),
                     kFunc, 671);
  } else {
    update_log::Info(update_log::Format(update_log::kShort,
                                        "package staged while downloading up to entry %llu, the rest is unzipped "
                                        "after its download: %s",
                                        static_cast<unsigned long long>(entries_.size()), why_.c_str()),
                     kFunc, 673);
  }
  return true;
}

bool PackageStager::Fail(std::string why) {
  if (why_.empty()) why_ = std::move(why);
  return false;
}

StagingPace PackageStager::PaceAt(uint64_t offset) {
  const GrowingPackage::Extent now = package_.Now();
  StagingPace pace;
  pace.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - paceStart_).count();
  pace.unpacked = offset;
  pace.inFile = now.inFile;
  pace.arrived = now.inFile > inFileAtStart_ ? now.inFile - inFileAtStart_ : 0;
  pace.toCome = toCome_ ? toCome_() : 0;
  pace.ended = finishing_;
  pace.measuredBytes = measuredBytes_;
  pace.measuredSeconds = measuredSeconds_;
  if (measuring_ && offset > measureFrom_) {
    pace.measuredBytes += offset - measureFrom_;
    pace.measuredSeconds += SecondsMeasured();
  }
  return pace;
}

std::string PackageStager::Outran(const StagingPace& pace) {
  const auto mbPerSecond = [](uint64_t bytes, double seconds) { return seconds > 0 ? bytes / seconds / 1e6 : 0.0; };
  return update_log::Format(
      update_log::kShort, "the download outran the staging at byte %llu of %llu (%.0f MB/s against %.0f MB/s)",
      static_cast<unsigned long long>(pace.unpacked), static_cast<unsigned long long>(pace.inFile),
      mbPerSecond(pace.arrived, pace.seconds), mbPerSecond(pace.measuredBytes, pace.measuredSeconds));
}

bool PackageStager::NextEntryWanted(uint64_t offset) {
  if (Stopping()) return Fail("stopped");
  const StagingPace pace = PaceAt(offset);
  if (!DownloadOutpacesStaging(pace)) return true;
  return Fail(pace.ended ? "the download ended first" : Outran(pace));
}

bool PackageStager::KeepGoing(uint64_t offset) {
  if (Stopping()) return Fail("stopped");
  if (paused_ || finishing_) return true;
  const StagingPace pace = PaceAt(offset);
  if (!DownloadOutpacesStaging(pace)) return true;
  // Inside an entry: what it holds is unpacked once the transfer no longer needs the cores, rather
  // than thrown away and inflated again after the download.
  paused_ = true;
  update_log::Info(
      update_log::Format(update_log::kShort, "staging paused until the download ends: %s", Outran(pace).c_str()), kFunc,
      674);
  package_.WaitForEnd();
  return Stopping() ? Fail("stopped") : true;
}

void PackageStager::BeginMeasure(const StagedEntry& entry, bool sizesFollow) {
  measuring_ = !sizesFollow && entry.compressedSize >= kReadBlock;
  if (!measuring_) return;
  measureFrom_ = entry.dataOffset;
  measureStart_ = std::chrono::steady_clock::now();
  waitedAtMeasureStart_ = Waited();
}

void PackageStager::EndMeasure(uint64_t offset) {
  if (!measuring_) return;
  measuring_ = false;
  if (offset <= measureFrom_) return;
  measuredBytes_ += offset - measureFrom_;
  measuredSeconds_ += SecondsMeasured();
}

double PackageStager::SecondsMeasured() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - measureStart_ -
                                       (Waited() - waitedAtMeasureStart_))
      .count();
}

void PackageStager::Run() {
  os::ThreadSignalStack signalStack;
  folders_ = std::make_unique<os::ContainedFolders>(stagingDir_);
  // The staged files are made durable as they come: the installation ends with a sync before its
  // version record, and on a download of several seconds that sync would otherwise write the whole
  // client after the package's last byte.
  durable_ = std::make_unique<BackgroundSync>(stagingDir_);
  // The rates are taken from the first bytes on, not from the wait for the transfer to start.
  if (package_.WaitBeyond(0) == 0) {
    Fail("the package ended inside its entries");
    return;
  }
  paceStart_ = std::chrono::steady_clock::now();
  inFileAtStart_ = package_.Now().inFile;
  uint64_t offset = 0;
  bool directoryReached = false;
  while (!directoryReached) {
    // The entries staged so far stay: the rest is extracted after the download.
    if (!NextEntryWanted(offset) || !StageEntry(offset, directoryReached)) return;
  }
  staged_ = true;
}

bool PackageStager::StageEntry(uint64_t& offset, bool& directoryReached) {
  uint8_t header[kLocalHeaderSize];
  if (!package_.ReadAt(header, 4, offset)) return Fail("the package ended inside its entries");
  const uint32_t signature = Le32(header);
  if (signature == kDirectoryHeader || signature == kDirectoryEnd) {
    directoryReached = true;
    return true;
  }
  if (signature != kLocalHeader) return Fail("no entry header at byte " + std::to_string(offset));
  if (!package_.ReadAt(header, kLocalHeaderSize, offset)) return Fail("the package ended inside its entries");
  const uint16_t flags = Le16(header + 6);
  StagedEntry entry;
  entry.method = Le16(header + 8);
  entry.crc = Le32(header + 14);
  entry.compressedSize = Le32(header + 18);
  entry.size = Le32(header + 22);
  const size_t nameLength = Le16(header + 26);
  const size_t extraLength = Le16(header + 28);
  if (flags & 1) return Fail("an encrypted entry");
  if (entry.method != 0 && entry.method != 8) return Fail("an entry of method " + std::to_string(entry.method));
  const bool sizesFollow = (flags & 8) != 0;
  if (sizesFollow && entry.method == 0) return Fail("a stored entry whose sizes follow its data");

  std::string nameAndExtra(nameLength + extraLength, '\0');
  if (!package_.ReadAt(nameAndExtra.data(), nameAndExtra.size(), offset + kLocalHeaderSize))
    return Fail("the package ended inside its entries");
  bool zip64 = false;
  if (!ReadZip64Sizes(nameAndExtra.substr(nameLength), entry.size, entry.compressedSize, zip64))
    return Fail("an entry without its sizes");
  const std::string stored = nameAndExtra.substr(0, nameLength < kNameBuffer ? nameLength : kNameBuffer);
  entry.name = stored.c_str();  // as the extraction reads it: up to the first NUL
  entry.dataOffset = offset + kLocalHeaderSize + nameLength + extraLength;

  const std::string path = EntryPath(entry.name);
  if (path.empty() || !IsSafeEntryPath(path)) return Fail("an entry named outside the client directory");
  // Two entries of one name would leave one staged file for two moves.
  if (!names_.insert(path).second) return Fail("an entry named twice");

  if (folders_->Make(EntryFolder(path)) != 0) return Fail("a folder that cannot be made");
  uint64_t end = entry.dataOffset + entry.compressedSize;
  if (IsFolderEntry(path)) {
    if (sizesFollow) return Fail("a folder entry whose sizes follow its data");
  } else {
    // The download comes first: a staging that filled the disk would fail it, where the
    // extraction after it finds the room the old files leave.
    const int64_t free = os::FreeBytes(stagingDir_);
    const int64_t toCome = toCome_ ? toCome_() : 0;
    if (free >= 0 &&
        static_cast<uint64_t>(free) < entry.size + static_cast<uint64_t>(toCome > 0 ? toCome : 0) + kRoomMargin)
      return Fail("too little room beside the download");
    os::ReplacementFile out(os::JoinPath(stagingDir_, path), 0);
    if (!out.Output().IsOpen()) return Fail(std::string("cannot write: ") + std::strerror(out.Error()));
    std::unique_ptr<os::DirectWriter> direct;
    if (!sizesFollow && entry.size >= kLargeEntry)
      direct = std::make_unique<os::DirectWriter>(out.Output().Handle(), 0, os::DirectWriter::Mode::Direct);
    const Sink sink = [&](const uint8_t* data, size_t size) {
      if (!direct) return out.Output().Write(data, size);
      return direct->Append(data, size) ? 0 : direct->Error() != 0 ? direct->Error() : EIO;
    };
    BeginMeasure(entry, sizesFollow);
    const bool copied =
        entry.method == 0 ? CopyStored(sink, entry) : CopyDeflated(sink, entry, sizesFollow, zip64, end);
    EndMeasure(copied ? entry.dataOffset + entry.compressedSize : entry.dataOffset);
    if (direct && !direct->Finish() && copied)
      return Fail(std::string("cannot write: ") + std::strerror(direct->Error() != 0 ? direct->Error() : EIO));
    if (!copied) return false;
    if (const int error = out.Commit(); error != 0) return Fail(std::string("cannot write: ") + std::strerror(error));
    durable_->Written(entry.size);
  }
  entries_.push_back(std::move(entry));
  offset = end;
  return true;
}

std::unique_ptr<os::DirectReader> PackageStager::LargeEntryInput(const StagedEntry& entry, bool sizesFollow) {
  if (sizesFollow || (entry.size < kLargeEntry && entry.compressedSize < kLargeEntry) || entry.compressedSize == 0)
    return nullptr;
  return std::make_unique<os::DirectReader>(package_.Handle(), entry.dataOffset,
                                            entry.dataOffset + entry.compressedSize, os::DirectReader::Mode::Direct,
                                            [this](uint64_t end) { return package_.WaitFor(end); });
}

bool PackageStager::NextInput(os::DirectReader& reader, const uint8_t*& data, size_t& size) {
  const auto start = std::chrono::steady_clock::now();
  const bool got = reader.Next(data, size);
  readerWaited_ += std::chrono::steady_clock::now() - start;
  return got ? true : Fail(Stopping() ? "stopped" : "the package ended inside an entry");
}

std::chrono::steady_clock::duration PackageStager::Waited() { return package_.Waited() + readerWaited_; }

bool PackageStager::CopyStored(const Sink& out, StagedEntry& entry) {
  if (entry.compressedSize != entry.size) return Fail("a stored entry of two sizes");
  uint32_t crc = inflater_->UpdateCrc(0, nullptr, 0);
  const std::unique_ptr<os::DirectReader> reader = LargeEntryInput(entry, false);
  for (uint64_t at = entry.dataOffset, left = entry.size; left > 0;) {
    if (!KeepGoing(at)) return false;
    const uint8_t* data = in_.get();
    size_t n = left < kReadBlock ? static_cast<size_t>(left) : kReadBlock;
    if (reader) {
      if (!NextInput(*reader, data, n)) return false;
      if (n > left) return Fail("the package ended inside an entry");
    } else if (!package_.ReadAt(in_.get(), n, at)) {
      return Fail("the package ended inside an entry");
    }
    crc = inflater_->UpdateCrc(crc, data, n);
    if (const int error = out(data, n); error != 0) return Fail(std::string("cannot write: ") + std::strerror(error));
    at += n;
    left -= n;
  }
  return crc == entry.crc ? true : Fail("an entry whose CRC-32 does not match");
}

bool PackageStager::CopyDeflated(const Sink& out, StagedEntry& entry, bool sizesFollow, bool zip64, uint64_t& end) {
  if (!inflater_->Reset()) return Fail("no inflater");
  uint64_t at = entry.dataOffset;  // of the next stored byte to read
  uint64_t produced = 0;
  Inflater::Buffers buffers;
  const std::unique_ptr<os::DirectReader> reader = LargeEntryInput(entry, sizesFollow);
  while (true) {
    if (!KeepGoing(at)) return false;
    bool inputEnded = false;
    if (buffers.inSize == 0 && reader) {
      const uint8_t* data = nullptr;
      size_t n = 0;
      if (at < entry.dataOffset + entry.compressedSize && !NextInput(*reader, data, n)) return false;
      inputEnded = n == 0;
      at += n;
      buffers.in = data;
      buffers.inSize = n;
    } else if (buffers.inSize == 0) {
      // With the sizes known, exactly the entry's stored bytes; otherwise whatever has arrived.
      size_t n = kReadBlock;
      if (!sizesFollow) {
        const uint64_t left = entry.dataOffset + entry.compressedSize - at;
        if (left < n) n = static_cast<size_t>(left);
      } else if (const uint64_t available = package_.WaitBeyond(at); available == 0) {
        return Fail("the package ended inside an entry");
      } else if (available - at < n) {
        n = static_cast<size_t>(available - at);
      }
      inputEnded = n == 0;
      if (n > 0 && !package_.ReadAt(in_.get(), n, at)) return Fail("the package ended inside an entry");
      at += n;
      buffers.in = in_.get();
      buffers.inSize = n;
    }
    const size_t inBefore = buffers.inSize;
    buffers.out = out_.get();
    buffers.outSize = kWriteBlock;
    const Inflater::Status status = inflater_->Inflate(buffers);
    const size_t made = kWriteBlock - buffers.outSize;
    produced += made;
    if (status == Inflater::Status::Corrupt || (!sizesFollow && produced > entry.size))
      return Fail("an entry that does not inflate");
    if (made > 0) {
      if (const int error = out(out_.get(), made); error != 0)
        return Fail(std::string("cannot write: ") + std::strerror(error));
    }
    if (status == Inflater::Status::StreamEnd) break;
    if (made == 0 && buffers.inSize == inBefore && (buffers.inSize > 0 || inputEnded))
      return Fail("an entry that does not inflate");
  }
  const uint32_t crc = inflater_->Crc();
  if (!sizesFollow) {
    if (produced != entry.size || crc != entry.crc) return Fail("an entry whose size or CRC-32 does not match");
    return true;
  }
  // The sizes follow the data (with or without a signature, 32 or 64 bits wide). An inflater may
  // have taken a few bytes past the stream's end, so the descriptor is looked for just before
  // where its input stopped; it must name the bytes inflated, their CRC-32 and the stored length.
  const uint64_t consumedEnd = at - buffers.inSize;
  const size_t width = zip64 ? 8 : 4;
  const uint64_t first = consumedEnd >= entry.dataOffset + 8 ? consumedEnd - 8 : entry.dataOffset;
  for (uint64_t p = first; p <= consumedEnd; ++p) {
    uint8_t d[4 + 4 + 16];
    if (!package_.ReadAt(d, 4 + 4 + 2 * width, p)) break;
    for (const bool signed_ : {true, false}) {
      if (signed_ && Le32(d) != kDescriptor) continue;
      const uint8_t* f = signed_ ? d + 4 : d;
      const uint64_t storedSize = width == 8 ? Le64(f + 4) : Le32(f + 4);
      const uint64_t size = width == 8 ? Le64(f + 4 + width) : Le32(f + 4 + width);
      if (Le32(f) == crc && storedSize == p - entry.dataOffset && size == produced) {
        entry.crc = crc;
        entry.compressedSize = storedSize;
        entry.size = produced;
        end = p + (signed_ ? 4 : 0) + 4 + 2 * width;
        return true;
      }
    }
  }
  return Fail("an entry whose sizes after its data do not match it");
}
