// What direct I/O (O_DIRECT) asks of its memory and offsets; the blocks DirectWriter and
// DirectReader move data in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "os/File.h"

namespace os {

// File offsets, lengths and memory of a direct transfer are aligned to the device's logical
// block; 4 KiB is that or a multiple of it on every device in use.
constexpr uint64_t kDirectAlign = 4096;
// The size of each block (measured: larger ones gained nothing; a few of them keep the memory
// flat whatever the file's size).
constexpr size_t kDirectBlockSize = 1024 * 1024;

// The errors a file system gives for a direct transfer it does not take (a larger block than
// assumed, or no direct I/O at all): the transfer goes on through the page cache.
bool DirectRefused(int error);

inline uint64_t AlignDown(uint64_t v) { return v & ~(kDirectAlign - 1); }
inline uint64_t AlignUp(uint64_t v) { return AlignDown(v + kDirectAlign - 1); }

using DirectBlock = std::unique_ptr<uint8_t, void (*)(void*)>;

// A block of kDirectBlockSize bytes aligned for direct I/O; empty when no memory could be had.
DirectBlock NewDirectBlock();

// A handle of no file.
#ifdef _WIN32
inline constexpr FileHandle kNoFileHandle = nullptr;
#else
inline constexpr FileHandle kNoFileHandle = -1;
#endif

// A second handle of the file behind file, for direct transfers in one direction (O_DIRECT,
// FILE_FLAG_NO_BUFFERING): the same file, whatever its path names by now. kNoFileHandle when the
// file system or the system refuses direct I/O. Closed with CloseDirect.
FileHandle OpenDirect(FileHandle file, bool forWriting);
void CloseDirect(FileHandle direct);

// One positioned transfer through handle, interruptions retried: the bytes moved (fewer than
// asked may be moved; 0 at the file's end for a read), or -1 with the errno in *error. The
// handle's own position is left alone where the system allows (on Windows a positioned transfer
// moves it: the handle is lent for the transfer's time).
int64_t PositionedRead(FileHandle handle, uint8_t* data, size_t size, uint64_t at, int* error);
int64_t PositionedWrite(FileHandle handle, const uint8_t* data, size_t size, uint64_t at, int* error);

}  // namespace os
