// Package extraction and the version record (update worker thread).
#include <cerrno>
#include <cstdio>
#include <minizip/unzip.h>
#include <sys/stat.h>

#include "os/CodePage.h"
#include "os/FileSystem.h"
#include "os/Process.h"
#include "update/CGameRemoteConfig.h"
#include "update/UpdateLog.h"

namespace {

const char kOnUnzip[] = "CGameRemoteConfig::OnUnzipFile";
const char kUnzip[] = "CGameRemoteConfig::UnzipFile";

constexpr size_t kNameBuffer = 512;
constexpr size_t kBlock = 8192;

// Closes the archive on every way out.
class Archive {
 public:
  explicit Archive(const std::string& path) : zip_(unzOpen64(path.c_str())) {}
  ~Archive() {
    if (zip_) unzClose(zip_);
  }
  Archive(const Archive&) = delete;
  Archive& operator=(const Archive&) = delete;
  unzFile Get() const { return zip_; }

 private:
  unzFile zip_;
};

// An entry may only name a place inside the client directory: no absolute path, no drive, no
// ".." component (with either separator, since archives made on Windows use both).
bool IsSafeEntryName(const std::string& name) {
  if (name.empty()) return true;
  if (name[0] == '/' || name[0] == '\\') return false;
  if (name.size() >= 2 && name[1] == ':') return false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of("/\\", start);
    if (end == std::string::npos) end = name.size();
    if (name.compare(start, end - start, "..") == 0) return false;
    start = end + 1;
  }
  return true;
}

// Permission bits stored by a Unix archiver (executables keep their execute bits); 0 when the
// entry carries none.
mode_t StoredMode(const unz_file_info64& info) {
  const unsigned long kUnixHost = 3;
  if ((info.version >> 8) != kUnixHost) return 0;
  const mode_t stored = static_cast<mode_t>(info.external_fa >> 16);
  if ((stored & S_IFMT) != 0 && !S_ISREG(stored)) return 0;
  return stored & 0777;
}

// Copies the current entry into target; false on any failure (the partly written file stays).
bool ExtractCurrentEntry(unzFile zip, const std::string& target, mode_t mode) {
  if (unzOpenCurrentFile(zip) != UNZ_OK) return false;
  FILE* out = std::fopen(target.c_str(), "wbe");
  if (!out) {
    unzCloseCurrentFile(zip);
    return false;
  }
  char block[kBlock];
  bool ok = true;
  while (true) {
    int n = unzReadCurrentFile(zip, block, sizeof block);
    if (n == 0) break;
    if (n < 0 || std::fwrite(block, 1, static_cast<size_t>(n), out) != static_cast<size_t>(n)) {
      ok = false;
      break;
    }
  }
  if (ok && mode != 0) fchmod(fileno(out), mode);
  if (std::fclose(out) != 0) ok = false;
  if (!ok) {
    unzCloseCurrentFile(zip);
    return false;
  }
  // A CRC mismatch shows up when the entry is closed.
  return unzCloseCurrentFile(zip) == UNZ_OK;
}

}  // namespace

int CGameRemoteConfig::OnUnzipFile(const std::string& packagePath, IWindowOperations* window) {
  const std::string& dataDir = ctx_.layout.dataDir;
  update_log::Info(update_log::Format(update_log::kShort, "unzip file:%s begin", packagePath.c_str()), kOnUnzip, 393);
  ctx_.telemetry.Log("game unzip start");

  Archive archive(os::Utf8ToAnsi(packagePath));
  if (!archive.Get()) {
    update_log::Error("zipfile is NULL!", kOnUnzip, 401);
    return 0;
  }
  unz_global_info64 global;
  if (unzGetGlobalInfo64(archive.Get(), &global) != UNZ_OK) {
    update_log::Error("unzGetGlobalInfo is error!", kOnUnzip, 409);
    return 0;
  }

  const unsigned long long n = global.number_entry;
  for (unsigned long long i = 1; i <= n; ++i) {
    unz_file_info64 info;
    char name[kNameBuffer + 1] = {};
    if (unzGetCurrentFileInfo64(archive.Get(), &info, name, kNameBuffer, nullptr, 0, nullptr, 0) != UNZ_OK) return 0;
    std::string entryName(name);
    update_log::Info(os::AnsiToUtf8(entryName), kOnUnzip, 426);
    if (!IsSafeEntryName(entryName)) {
      update_log::Error(update_log::Format(update_log::kShort, "refused entry outside the client directory:%s",
                                           os::AnsiToUtf8(entryName).c_str()),
                        kOnUnzip, 427);
      return 0;
    }

    const std::string target = dataDir + "/" + entryName;
    if (!entryName.empty() && entryName.back() == '/') {
      os::MakeDirectory(target);  // one level; an existing directory is fine
    } else if (!ExtractCurrentEntry(archive.Get(), target, StoredMode(info))) {
      return 0;
    }

    if (i < n && unzGoToNextFile(archive.Get()) != UNZ_OK) return 0;

    unsigned percent = static_cast<unsigned>(100ULL * i / n);
    if (window) {
      window->SetProgress("", std::to_string(i) + "/" + std::to_string(n), static_cast<int>(percent), 0);
      window->ShowProgressView();
    }
  }

  update_log::Info("unzip is finish!", kOnUnzip, 489);
  ctx_.telemetry.LogEvent(UnzipFinished);
  ctx_.telemetry.Log("game unzip success");
  return 1;
}

int CGameRemoteConfig::UnzipFile(const std::string& packagePath, IWindowOperations* window) {
  if (!OnUnzipFile(packagePath, window)) {
    if (window) {
      window->SetProgress("解压失败", "", 0, 0);
      window->ShowMessageView();
    }
    update_log::Info("unzip is error!", kUnzip, 755);
    ctx_.telemetry.Log("game unzip failed");
    return 0;
  }

  os::RemoveFile(packagePath);
  SetRegisties();

  std::string launcherPath = os::TruncateUtf16(os::ExecutablePath(), 260);
  update_log::Info(launcherPath, kUnzip, 718);
  int copyError = os::CopyFileOver(launcherPath, ctx_.layout.LauncherCopyPath(ctx_.updateState.GameName()));
  if (copyError == 0) {
    CreateShortcuts();
  } else {
    update_log::Error(update_log::Format(update_log::kShort, "CopyFile ret:%d", copyError), kUnzip, 728);
  }

  if (FILE* record = std::fopen(ctx_.layout.versionRecordPath.c_str(), "we")) {
    if (auto version = ctx_.remoteConfig.Find("ClientVersion")) {
      std::string text = os::Utf8ToAnsi(*version);
      std::fwrite(text.data(), 1, text.size(), record);
    }
    std::fclose(record);
  }

  if (window) {
    window->SetProgress("更新已完成", "", 0, 0);
    window->ShowMessageView();
    window->SetReady();
  }
  update_log::Info("unzip is finish!", kUnzip, 748);
  return 1;
}
