#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "os/DirectBlock.h"

namespace os {

bool DirectRefused(int error) { return error == EINVAL || error == EOPNOTSUPP || error == ENOTSUP; }

namespace {

void FreeDirectBlock(void* block) {
  if (block) ::munmap(block, kDirectBlockSize);
}

}  // namespace

// Mapped for itself, not taken from malloc: freed, its pages go back to the system at once. From
// malloc, blocks of this size land in the arenas of the threads that copy entries, between small
// allocations that keep them from being given back, and a client of many large files left tens of
// MiB resident after the blocks were freed.
DirectBlock NewDirectBlock() {
  void* memory = ::mmap(nullptr, kDirectBlockSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) return DirectBlock(nullptr, FreeDirectBlock);
  return DirectBlock(static_cast<uint8_t*>(memory), FreeDirectBlock);
}

// The descriptor's entry in /proc opens its inode, never what its path has become since. -1 when
// the file system refuses O_DIRECT (or /proc is not mounted).
FileHandle OpenDirect(FileHandle file, bool forWriting) {
  if (file < 0) return kNoFileHandle;
  const std::string self = "/proc/self/fd/" + std::to_string(file);
  return ::open(self.c_str(), (forWriting ? O_WRONLY : O_RDONLY) | O_DIRECT | O_CLOEXEC);
}

void CloseDirect(FileHandle direct) {
  if (direct >= 0) ::close(direct);
}

int64_t PositionedRead(FileHandle handle, uint8_t* data, size_t size, uint64_t at, int* error) {
  for (;;) {
    const ssize_t n = ::pread(handle, data, size, static_cast<off_t>(at));
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    if (error) *error = errno;
    return -1;
  }
}

int64_t PositionedWrite(FileHandle handle, const uint8_t* data, size_t size, uint64_t at, int* error) {
  for (;;) {
    const ssize_t n = ::pwrite(handle, data, size, static_cast<off_t>(at));
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    if (error) *error = errno;
    return -1;
  }
}

}  // namespace os
