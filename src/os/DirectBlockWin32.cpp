// Direct transfers on Windows: a second handle of the file opened past the system's cache
// (ReOpenFile with FILE_FLAG_NO_BUFFERING), blocks aligned for it, and transfers at offsets.
#include <windows.h>

#include <cerrno>

#include "os/DirectBlock.h"
#include "os/base/Win32Text.h"

namespace os {
namespace {

// ReadFile and WriteFile take DWORD lengths.
constexpr size_t kMaxPiece = 1u << 30;

OVERLAPPED At(uint64_t at) {
  OVERLAPPED where{};
  where.Offset = static_cast<DWORD>(at);
  where.OffsetHigh = static_cast<DWORD>(at >> 32);
  return where;
}

}  // namespace

// ERROR_INVALID_PARAMETER (EINVAL) is what an unaligned or unbuffered transfer the volume does not
// take gives.
bool DirectRefused(int error) { return error == EINVAL; }

namespace {

void FreeDirectBlock(void* block) {
  if (block) VirtualFree(block, 0, MEM_RELEASE);
}

}  // namespace

// Committed for itself (aligned to the allocation granularity, a multiple of kDirectAlign), not
// taken from the heap: freed, its pages go back to the system at once.
DirectBlock NewDirectBlock() {
  return DirectBlock(
      static_cast<uint8_t*>(VirtualAlloc(nullptr, kDirectBlockSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)),
      FreeDirectBlock);
}

FileHandle OpenDirect(FileHandle file, bool forWriting) {
  if (file == kNoFileHandle) return kNoFileHandle;
  HANDLE direct = ReOpenFile(file, forWriting ? GENERIC_WRITE : GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_FLAG_NO_BUFFERING);
  return direct == INVALID_HANDLE_VALUE ? kNoFileHandle : direct;
}

void CloseDirect(FileHandle direct) {
  if (direct != kNoFileHandle) CloseHandle(direct);
}

int64_t PositionedRead(FileHandle handle, uint8_t* data, size_t size, uint64_t at, int* error) {
  OVERLAPPED where = At(at);
  DWORD n = 0;
  if (!ReadFile(handle, data, static_cast<DWORD>(size < kMaxPiece ? size : kMaxPiece), &n, &where)) {
    if (GetLastError() == ERROR_HANDLE_EOF) return 0;  // at or past the file's end
    if (error) *error = win32::LastErrno();
    return -1;
  }
  return n;
}

int64_t PositionedWrite(FileHandle handle, const uint8_t* data, size_t size, uint64_t at, int* error) {
  OVERLAPPED where = At(at);
  DWORD n = 0;
  if (!WriteFile(handle, data, static_cast<DWORD>(size < kMaxPiece ? size : kMaxPiece), &n, &where)) {
    if (error) *error = win32::LastErrno();
    return -1;
  }
  return n;
}

}  // namespace os
