#include "update/UpdateState.h"

#include "Identity.h"
#include "os/FileSystem.h"

const char* ExecutableSuffix() { return ""; }

UpdateState& UpdateState::Instance() {
  // Never destroyed: a detached worker may still be running while the process exits.
  static UpdateState* state = new UpdateState();
  return *state;
}

UpdateState::UpdateState() : remoteConfigUrl_(identity::RemoteConfigUrl) {}

void UpdateState::SetDirectories(const std::string& installDir, const std::string& dataDir) {
  std::lock_guard<std::mutex> lock(mutex_);
  installDir_ = installDir;
  dataDir_ = dataDir;
}

std::string UpdateState::InstallDir() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return installDir_;
}

std::string UpdateState::DataDir() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return dataDir_;
}

void UpdateState::SetRemoteConfigUrl(const std::string& url) {
  std::lock_guard<std::mutex> lock(mutex_);
  remoteConfigUrl_ = url;
}

std::string UpdateState::RemoteConfigUrl() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return remoteConfigUrl_;
}

std::string UpdateState::PackagePath() const {
  return os::JoinPath(InstallDir(), "qvx.zip");
}

std::string UpdateState::ResumeStatePath() const { return os::JoinPath(InstallDir(), "tempdownload.dat"); }

std::string UpdateState::VersionRecordPath() const { return os::JoinPath(DataDir(), "game_client_version.txt"); }

std::string UpdateState::LauncherCopyPath() const {
  return os::JoinPath(InstallDir(), GameName() + ExecutableSuffix());
}

std::string UpdateState::GameName() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return gameName_;
}

void UpdateState::SetGameName(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  gameName_ = name;
}

int UpdateState::FirstInstall() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return firstInstall_;
}

void UpdateState::SetFirstInstall(int value) {
  std::lock_guard<std::mutex> lock(mutex_);
  firstInstall_ = value;
}

DownloadCounters UpdateState::Counters() const {
  std::lock_guard<std::mutex> lock(counterMutex_);
  return counters_;
}

void UpdateState::SetCounters(const DownloadCounters& counters) {
  std::lock_guard<std::mutex> lock(counterMutex_);
  counters_ = counters;
}

void UpdateState::Reset() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    gameName_.clear();
    firstInstall_ = 0;
  }
  localClientVersion = remoteClientVersion = miniUpdateVersion = ClientVersion{};
  SetCounters(DownloadCounters{});
}
