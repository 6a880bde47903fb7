// Small file-system helpers with errno-style results; no exceptions.
#pragma once

#include <cstdint>
#include <string>

namespace os {

// Native path separator joining: JoinPath("a", "b") == "a/b".
std::string JoinPath(const std::string& dir, const std::string& name);

bool PathExists(const std::string& path);
bool IsDirectory(const std::string& path);

// Creates one directory level (no parents). Returns 0 or the errno; EEXIST when it exists.
int MakeDirectory(const std::string& path);

// Creates the directory and any missing parents. Returns 0 or the errno.
int MakeDirectories(const std::string& path);

// Deletes a file (not a directory). Returns 0 or the errno.
int RemoveFile(const std::string& path);

// Writes the whole content atomically: temporary file in the same directory, fsync, rename.
// Returns 0 or the errno; on failure the old file is untouched.
int WriteFileAtomically(const std::string& path, const std::string& content);

// Reads a whole file; false when it cannot be opened.
bool ReadFile(const std::string& path, std::string& content);

// How reading a file that should be a regular one ended.
enum class ReadOutcome {
  Read,        // content is the whole file
  Missing,     // nothing at the path (ENOENT)
  NotRegular,  // a directory, a pipe, a device: not read (it could block or never end)
  Failed,      // the open or a read failed (errno in *error): content is empty or incomplete
};
// Reads a whole regular file, telling a missing file from one that could not be read in full.
ReadOutcome ReadRegularFile(const std::string& path, std::string& content, int* error = nullptr);

// Copies a file over the destination, keeping the source's permission bits.
// Returns 0 or the errno (ETXTBSY, EACCES, ...).
int CopyFileOver(const std::string& from, const std::string& to);

// Bytes that an unprivileged writer may still put on the file system holding path; -1 when it
// cannot be told.
int64_t FreeBytes(const std::string& path);

// Makes the data of the file at path durable (fdatasync). Returns 0 or the errno.
int SyncFileData(const std::string& path);

// Makes every file and folder change on the file system holding path durable (syncfs), at one
// call however many files were written. Returns 0 or the errno, also of a failed write-back of a
// file written earlier.
int SyncFileSystem(const std::string& path);

// The size of the regular file at path; -1 when there is none (missing, a folder, unreadable).
int64_t RegularFileSize(const std::string& path);

// Directory part of a path ("/a/b/c" -> "/a/b"), and the last component ("c").
std::string DirName(const std::string& path);
std::string BaseName(const std::string& path);

}  // namespace os
