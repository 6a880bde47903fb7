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

std::string ResumeStateText(const UpdateState& state) {
  DownloadCounters c = state.Counters();
  char buf[256];
  std::snprintf(buf, sizeof buf, "downloadVersion=%s\noffset=%lld\ntotalSize=%lld\n",
                FormatVersion(c.downloadVersion).c_str(), static_cast<long long>(c.downloadedBytes),
                static_cast<long long>(c.totalSize));
  return buf;
}

void SaveResumeState(UpdateState& state, const InstallLayout& layout) {
  std::lock_guard<std::mutex> lock(state.saveMutex);
  if (layout.installDir.empty()) return;
  const std::string& path = layout.resumeStatePath;
  // The counters move only after their bytes reached the file (the worker writes unbuffered,
  // under the counter lock), so this snapshot never promises bytes the file lacks.
  if (!state.Counters().loaded) return;
  std::string text = ResumeStateText(state);
  // Skip the write when nothing changed.
  std::string old;
  if (os::ReadFile(path, old) && old == text) return;
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
