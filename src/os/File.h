// An open file of the update path (the package, the archive, an extracted entry) over the
// platform's handle: a descriptor here, a HANDLE on Windows. Errors are errno values. Owner thread
// only; the handle may be lent to a DirectWriter or DirectReader while they run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace os {

#ifdef _WIN32
using FileHandle = void*;
#else
using FileHandle = int;
#endif

class File {
 public:
  enum class Access {
    Read,       // an existing file, for reading
    ReadWrite,  // created when missing (private to the user's umask), never truncated
  };

  File() = default;
  // Takes over an open handle (closed with the File).
  explicit File(FileHandle handle);
  ~File() { Close(); }
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Opens path; IsOpen() false and *error set (when given) on a failure.
  static File Open(const std::string& path, Access access, int* error = nullptr);

  bool IsOpen() const;
  FileHandle Handle() const { return handle_; }
  // 0, or the errno of a close that failed (a write-back error some file systems report only then).
  int Close();

  // The file's size; -1 on a failure.
  int64_t Size() const;
  // Up to size bytes at offset into buffer, through interruptions: the bytes read (fewer only at
  // the end of the file), or -1 with the errno in *error.
  int64_t ReadAt(void* buffer, size_t size, uint64_t offset, int* error = nullptr) const;
  // Writes every byte at the current position. 0 or the errno (ENOSPC for a write that takes nothing).
  int Write(const void* data, size_t size);
  // Cuts or extends the file to size bytes. 0 or the errno.
  int Truncate(uint64_t size);
  // Tells the system the file will be read from start to end (a hint; nothing fails).
  void AdviseSequential() const;

 private:
  FileHandle handle_ = kNone;
#ifdef _WIN32
  static constexpr FileHandle kNone = nullptr;
#else
  static constexpr FileHandle kNone = -1;
#endif
};

}  // namespace os
