#include "os/FileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace os {

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

bool PathExists(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int MakeDirectory(const std::string& path) { return ::mkdir(path.c_str(), 0755) == 0 ? 0 : errno; }

int MakeDirectories(const std::string& path) {
  if (path.empty()) return EINVAL;
  if (IsDirectory(path)) return 0;
  std::string parent = DirName(path);
  if (!parent.empty() && parent != path) {
    int rc = MakeDirectories(parent);
    if (rc != 0) return rc;
  }
  int rc = MakeDirectory(path);
  return rc == EEXIST && IsDirectory(path) ? 0 : rc;
}

int RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0 ? 0 : errno; }

namespace {

// Writes all bytes, retrying short writes.
bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;  // no progress: never spin on it
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

int WriteFileAtomically(const std::string& path, const std::string& content) {
  std::string tmp = path + ".tmp-XXXXXX";
  int fd = ::mkstemp(tmp.data());
  if (fd < 0) return errno;
  ::fchmod(fd, 0644);
  if (!WriteAll(fd, content.data(), content.size()) || ::fsync(fd) != 0) {
    int err = errno;
    ::close(fd);
    ::unlink(tmp.c_str());
    return err ? err : EIO;
  }
  ::close(fd);
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    int err = errno;
    ::unlink(tmp.c_str());
    return err;
  }
  // Make the rename itself durable.
  int dfd = ::open(DirName(path).c_str(), O_RDONLY | O_DIRECTORY);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return 0;
}

int64_t FreeBytes(const std::string& path) {
  struct statvfs fs;
  if (::statvfs(path.c_str(), &fs) != 0) return -1;
  return static_cast<int64_t>(fs.f_bavail) * static_cast<int64_t>(fs.f_frsize);
}

int SyncFileData(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  int rc = ::fdatasync(fd) == 0 ? 0 : errno;
  ::close(fd);
  return rc;
}

int SyncFileSystem(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  const int rc = ::syncfs(fd) == 0 ? 0 : errno;
  ::close(fd);
  return rc;
}

int64_t RegularFileSize(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return static_cast<int64_t>(st.st_size);
}

bool ReadFile(const std::string& path, std::string& content) {
  FILE* f = std::fopen(path.c_str(), "rbe");  // close-on-exec
  if (!f) return false;
  content.clear();
  char buf[8192];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) content.append(buf, n);
  std::fclose(f);
  return true;
}

ReadOutcome ReadRegularFile(const std::string& path, std::string& content, int* error) {
  content.clear();
  if (error) *error = 0;
  // Not blocking: a pipe at the path would otherwise hold the open until a writer comes.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  struct stat st {};
  if (fd < 0) {
    const int err = errno;
    if (err == ENOENT) return ReadOutcome::Missing;
    // What cannot be opened for reading at all (a socket) is no file either.
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return ReadOutcome::NotRegular;
    if (error) *error = err;
    return ReadOutcome::Failed;
  }
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    ::close(fd);
    if (error) *error = err;
    return ReadOutcome::Failed;
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    return ReadOutcome::NotRegular;
  }
  char buf[8192];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0) {
      content.append(buf, static_cast<size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      const int err = errno;
      ::close(fd);
      if (error) *error = err;
      return ReadOutcome::Failed;
    }
  }
  ::close(fd);
  return ReadOutcome::Read;
}

int CopyFileOver(const std::string& from, const std::string& to) {
  int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return errno;
  struct stat st;
  if (::fstat(in, &st) != 0) {
    int err = errno;
    ::close(in);
    return err;
  }
  // Replace by rename so that a running copy of the target (ETXTBSY) does not block us and a
  // reader never sees a half-written file.
  std::string tmp = to + ".tmp-XXXXXX";
  int out = ::mkstemp(tmp.data());
  if (out < 0) {
    int err = errno;
    ::close(in);
    return err;
  }
  char buf[65536];
  int err = 0;
  for (;;) {
    ssize_t n = ::read(in, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      err = errno;
      break;
    }
    if (n == 0) break;
    if (!WriteAll(out, buf, static_cast<size_t>(n))) {
      err = errno ? errno : EIO;
      break;
    }
  }
  ::close(in);
  if (err == 0) ::fchmod(out, st.st_mode & 07777);
  ::close(out);
  if (err == 0 && ::rename(tmp.c_str(), to.c_str()) != 0) err = errno;
  if (err != 0) ::unlink(tmp.c_str());
  return err;
}

std::string DirName(const std::string& path) {
  size_t end = path.find_last_not_of('/');
  if (end == std::string::npos) return path.empty() ? "." : "/";
  size_t slash = path.rfind('/', end);
  if (slash == std::string::npos) return ".";
  size_t keep = path.find_last_not_of('/', slash);
  return keep == std::string::npos ? "/" : path.substr(0, keep + 1);
}

std::string BaseName(const std::string& path) {
  size_t end = path.find_last_not_of('/');
  if (end == std::string::npos) return path.empty() ? "" : "/";
  size_t slash = path.rfind('/', end);
  return path.substr(slash == std::string::npos ? 0 : slash + 1,
                     end - (slash == std::string::npos ? 0 : slash + 1) + 1);
}

}  // namespace os
