#include "update/ResumeState.h"

#include <cstdio>
#include <mutex>

#include "os/FileSystem.h"

std::string ReadResumeValue(const InstallLayout& layout, const std::string& key) {
  if (layout.installDir.empty()) return std::string();
  FILE* f = std::fopen(layout.resumeStatePath.c_str(), "r");
  if (!f) return std::string();
  std::string result;
  char line[100];
  while (std::fgets(line, sizeof line, f)) {
    std::string text(line);
    bool complete = !text.empty() && text.back() == '\n';
    if (complete) text.pop_back();
    size_t eq = text.find('=');
    std::string name = eq == std::string::npos ? text : text.substr(0, eq);
    if (name == key) {
      result = eq == std::string::npos ? text : text.substr(eq + 1);
      break;
    }
    // A line longer than the buffer ends the reading.
    if (!complete && !std::feof(f)) break;
  }
  std::fclose(f);
  return result;
}

namespace {

std::string TextOf(const DownloadCounters& c) {
  char buf[256];
  std::snprintf(buf, sizeof buf, "downloadVersion=%s\noffset=%lld\ntotalSize=%lld\n",
                FormatVersion(c.downloadVersion).c_str(), static_cast<long long>(c.downloadedBytes),
                static_cast<long long>(c.totalSize));
  return buf;
}

}  // namespace

std::string ResumeStateText(const UpdateState& state) { return TextOf(state.Counters()); }

void SaveResumeState(UpdateState& state, const InstallLayout& layout) {
  std::lock_guard<std::mutex> lock(state.saveMutex);
  if (layout.installDir.empty()) return;
  const std::string& path = layout.resumeStatePath;
  // The counters move only after their bytes reached the file (the worker writes unbuffered,
  // under the counter lock), so this snapshot never promises bytes the file lacks.
  const DownloadCounters counters = state.Counters();
  if (!counters.loaded) return;
  std::string text = TextOf(counters);
  // Skip the write when nothing changed.
  std::string old;
  if (os::ReadFile(path, old) && old == text) return;
  // The bytes the state names reach the disk before the state does: after a power cut the state
  // never claims bytes the package lost. Bytes written after the snapshot may be lost; a resume
  // cuts the file back to the offset named here. When they cannot be made durable, the state
  // keeps what it said before.
  if (counters.downloadedBytes > 0 && os::PathExists(layout.packagePath) && os::SyncFileData(layout.packagePath) != 0)
    return;
  os::WriteFileAtomically(path, text);  // a failure is not reported
}

void ForgetPackage(UpdateState& state, const InstallLayout& layout) {
  resume_detail::WithSavesHeld(state, [&] {
    os::RemoveFile(layout.packagePath);
    state.UpdateCounters([](DownloadCounters& c) { c.resumeOffset = c.downloadedBytes = c.totalSize = 0; });
  });
  SaveResumeState(state, layout);
}

namespace resume_detail {

void WithSavesHeld(UpdateState& state, const std::function<void()>& change) {
  std::lock_guard<std::mutex> lock(state.saveMutex);
  change();
}

}  // namespace resume_detail
