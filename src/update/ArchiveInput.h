// How minizip reads the package: through a small cache of large blocks read at their offsets.
// Walking a directory of thousands of entries and reading each entry's local header are many
// small reads at scattered places; through the C library's streams each costs a seek and a read
// of the system, here a seek costs nothing and most reads come from a block already read.
// Update worker (one archive, one thread).
#pragma once

#include <minizip/ioapi.h>
#include <minizip/unzip.h>

#include <string>

// Sets functions so that unzOpen2_64 opens its path (as os::File::Open takes it) for reading
// through the cache. Writing is refused.
void SetCachedArchiveInput(zlib_filefunc64_def& functions);

// An archive open for minizip through the cache, closed on every way out.
class CachedArchive {
 public:
  // path as os::File::Open takes it; Get() is null when it cannot be opened as a zip.
  explicit CachedArchive(const std::string& path) {
    zlib_filefunc64_def functions;
    SetCachedArchiveInput(functions);
    zip_ = unzOpen2_64(path.c_str(), &functions);
  }
  ~CachedArchive() {
    if (zip_) unzClose(zip_);
  }
  CachedArchive(const CachedArchive&) = delete;
  CachedArchive& operator=(const CachedArchive&) = delete;
  unzFile Get() const { return zip_; }

 private:
  unzFile zip_ = nullptr;
};
