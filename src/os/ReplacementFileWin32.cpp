#include <windows.h>

#include <atomic>
#include <cerrno>
#include <utility>

#include "os/ReplacementFile.h"
#include "os/base/Win32Path.h"
#include "os/base/Win32Text.h"

namespace os {
namespace {

// Names unique within the process, as on every platform: the process id tells processes apart,
// the counter the files of one process. A name left by a process that was killed is stepped over.
std::atomic<unsigned long> gNextTemporary{0};
constexpr int kNameAttempts = 100;

std::string TemporaryName(const std::string& path) {
  static const DWORD self = GetCurrentProcessId();
  return path + ".tmp-" + std::to_string(self) + "-" + std::to_string(gNextTemporary.fetch_add(1));
}

// A file without the owner's write bit is a read-only file here.
DWORD AttributesFor(unsigned mode) {
  return mode != 0 && (mode & 0200) == 0 ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL;
}

// Removes a file, read-only or not.
void RemoveAnyway(const std::wstring& path) {
  if (DeleteFileW(path.c_str())) return;
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
    SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    DeleteFileW(path.c_str());
  }
}

}  // namespace

ReplacementFile::ReplacementFile(std::string path, unsigned mode) : path_(std::move(path)) {
  // The read-only attribute applies to later opens: this handle still writes. Never inherited.
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    temporary_ = TemporaryName(path_);
    HANDLE h = CreateFileW(win32::Wide(temporary_).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                           AttributesFor(mode), nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      file_ = File(h);
      return;
    }
    const DWORD code = GetLastError();
    error_ = win32::ErrnoOf(code);
    if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) break;
  }
  temporary_.clear();
}

ReplacementFile::~ReplacementFile() {
  file_.Close();
  if (!temporary_.empty()) RemoveAnyway(win32::Wide(temporary_));
}

// The data reaches the disk before the new name does.
int ReplacementFile::Finish() {
  if (finished_) return error_;
  if (!file_.IsOpen()) return error_ ? error_ : EBADF;
  finished_ = true;
  int error = FlushFileBuffers(file_.Handle()) ? 0 : win32::LastErrno();
  const int closed = file_.Close();
  error_ = error != 0 ? error : closed;
  return error_;
}

// The move writes its own change through and replaces a read-only file at path too.
int ReplacementFile::Commit() {
  if (const int error = Finish(); error != 0) return error;
  if (temporary_.empty()) return error_ = EBADF;  // committed before
  if (const int error = win32::ErrnoOf(win32::ReplaceByMove(win32::Wide(temporary_), win32::Wide(path_))); error != 0)
    return error_ = error;
  temporary_.clear();  // it is the file now
  return 0;
}

}  // namespace os
