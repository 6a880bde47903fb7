#include "update/ArchiveInput.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "os/File.h"

namespace {

// Internal sizes: two blocks keep the directory's block while the local headers are read
// elsewhere in the file.
constexpr size_t kBlock = 64 * 1024;
constexpr int kBlocks = 2;

struct CachedInput {
  struct Block {
    uint64_t index = UINT64_MAX;  // which block of the file it holds; UINT64_MAX: none
    size_t length = 0;            // short only at the end of the file
    uint64_t lastUse = 0;
    std::unique_ptr<uint8_t[]> data;
  };

  os::File file;
  uint64_t size = 0;
  uint64_t position = 0;
  uint64_t uses = 0;
  bool failed = false;
  Block blocks[kBlocks];

  // The block holding file block index, read when not cached; nullptr when the read failed.
  Block* Get(uint64_t index) {
    Block* victim = &blocks[0];
    for (Block& b : blocks) {
      if (b.index == index) {
        b.lastUse = ++uses;
        return &b;
      }
      if (b.lastUse < victim->lastUse) victim = &b;
    }
    if (!victim->data) victim->data.reset(new (std::nothrow) uint8_t[kBlock]);
    if (!victim->data) return nullptr;
    victim->index = UINT64_MAX;
    const int64_t got = file.ReadAt(victim->data.get(), kBlock, index * kBlock);
    if (got < 0) return nullptr;
    victim->index = index;
    victim->length = static_cast<size_t>(got);
    victim->lastUse = ++uses;
    return victim;
  }
};

voidpf ZCALLBACK Open(voidpf, const void* path, int mode) {
  if (!path || (mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ) return nullptr;
  auto input = std::unique_ptr<CachedInput>(new (std::nothrow) CachedInput);
  if (!input) return nullptr;
  input->file = os::File::Open(static_cast<const char*>(path), os::File::Access::Read);
  if (!input->file.IsOpen()) return nullptr;
  const int64_t size = input->file.Size();
  if (size < 0) return nullptr;
  input->size = static_cast<uint64_t>(size);
  return input.release();
}

uLong ZCALLBACK Read(voidpf, voidpf stream, void* buffer, uLong size) {
  auto* input = static_cast<CachedInput*>(stream);
  auto* out = static_cast<uint8_t*>(buffer);
  uLong copied = 0;
  while (copied < size && input->position < input->size) {
    CachedInput::Block* block = input->Get(input->position / kBlock);
    if (!block) {
      input->failed = true;
      break;
    }
    const size_t start = static_cast<size_t>(input->position % kBlock);
    if (start >= block->length) break;  // the file is shorter than it was
    size_t n = block->length - start;
    if (n > size - copied) n = static_cast<size_t>(size - copied);
    std::memcpy(out + copied, block->data.get() + start, n);
    copied += n;
    input->position += n;
  }
  return copied;
}

uLong ZCALLBACK Write(voidpf, voidpf, const void*, uLong) { return 0; }

ZPOS64_T ZCALLBACK Tell(voidpf, voidpf stream) { return static_cast<CachedInput*>(stream)->position; }

long ZCALLBACK Seek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
  auto* input = static_cast<CachedInput*>(stream);
  switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET: input->position = offset; return 0;
    case ZLIB_FILEFUNC_SEEK_CUR: input->position += offset; return 0;
    case ZLIB_FILEFUNC_SEEK_END: input->position = input->size + offset; return 0;
    default: return -1;
  }
}

int ZCALLBACK Close(voidpf, voidpf stream) {
  delete static_cast<CachedInput*>(stream);
  return 0;
}

int ZCALLBACK Error(voidpf, voidpf stream) { return static_cast<CachedInput*>(stream)->failed ? 1 : 0; }

}  // namespace

void SetCachedArchiveInput(zlib_filefunc64_def& functions) {
  functions.zopen64_file = Open;
  functions.zread_file = Read;
  functions.zwrite_file = Write;
  functions.ztell64_file = Tell;
  functions.zseek64_file = Seek;
  functions.zclose_file = Close;
  functions.zerror_file = Error;
  functions.opaque = nullptr;
}
