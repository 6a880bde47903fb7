// Copies zip entries' data into open files, fast: minizip says where an entry's stored bytes are
// (it keeps the archive's directory, order, names and attributes); they are read in large blocks
// and inflated by the build's inflater (Inflater.h). A small entry is inflated into a small block
// that is written while it is still in the processor's cache; a large one is read ahead and written
// past the page cache on threads of their own (os/DirectReader, os/DirectWriter), beside the
// inflater. Each entry's size and CRC-32 from the archive's directory are checked. One per
// thread that copies entries (the update worker, or each of EntryPipeline's workers); Locate needs
// the archive's minizip handle and so runs where that is read.
#pragma once

#include <minizip/unzip.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "os/File.h"
#include "update/Inflater.h"

class EntryCopier {
 public:
  // archivePath as handed to minizip; it is opened a second time here for the plain reads.
  explicit EntryCopier(const std::string& archivePath);
  EntryCopier(const EntryCopier&) = delete;
  EntryCopier& operator=(const EntryCopier&) = delete;

  // Where an entry's stored bytes are and what they must give.
  struct Location {
    int method = 0;  // 0 stored, Z_DEFLATED
    uint64_t offset = 0;
    uint64_t storedSize = 0;
    uint64_t size = 0;
    uint32_t crc = 0;
  };
  // The entry minizip is positioned on (whose directory record is info); false when it cannot be
  // read: a bad local header or a method other than stored or deflated. Any thread owning zip.
  static bool Locate(unzFile zip, const unz_file_info64& info, Location& location);

  // Whether the entry is read and written past the page cache, on threads of their own with a few
  // MiB of buffers, rather than through the copier's small blocks.
  static bool Streams(const Location& location);

  // Opens the entry minizip is positioned on; false when Locate fails or there is no archive.
  bool Open(unzFile zip, const unz_file_info64& info);
  // Opens a located entry; false when the archive or the buffers could not be had.
  bool Open(const Location& location);
  enum class Result { Done, Failed, Stopped };
  // Copies the opened entry's data into out, an empty file open for writing. Failed on a
  // read, inflate, write, size or CRC-32 failure; Stopped when stop (asked before every block, may
  // be empty) says so. Whatever was written before stays.
  Result CopyTo(os::File& out, const std::function<bool()>& stop);
  // After Failed: the errno of the write the disk refused (no space, an I/O error), or 0 when the
  // archive was at fault (a read, the data, the size or the CRC-32).
  int WriteError() const { return writeError_; }

 private:
  Result CopyStored(os::File& out, const std::function<bool()>& stop);
  Result CopyDeflated(os::File& out, const std::function<bool()>& stop);
  Result CopyLarge(os::File& out, const std::function<bool()>& stop);
  // One inflate call into out (room bytes) with the size and CRC-32 checks; made is what to keep
  // of it (never past the entry's size), to be written before acting on the step.
  enum class Step { More, Done, Failed };
  Step InflateInto(Inflater::Buffers& buffers, uint8_t* out, size_t room, bool inputEnded, uint64_t& produced,
                   size_t& made);
  // Up to size stored bytes of the entry into buffer; false on a read failure or a cut archive.
  bool Read(uint8_t* buffer, size_t size);

  os::File archive_;
  std::unique_ptr<Inflater> inflater_;
  std::unique_ptr<uint8_t[]> in_;
  std::unique_ptr<uint8_t[]> out_;

  // The opened entry.
  int method_ = 0;
  uint64_t offset_ = 0;  // of its next stored byte in the archive
  uint64_t storedLeft_ = 0;
  uint64_t size_ = 0;
  uint32_t crc_ = 0;
  int writeError_ = 0;
};
