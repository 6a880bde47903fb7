// A launcher stand-in for the kill test: runs one update worker pass against the given
// configuration URL in the given installation, recording its state often, and exits.
// Usage: update_download_child <installDir> <dataDir> <configUrl>
#include <chrono>
#include <cstdio>
#include <string>

#include "update/CGameRemoteConfig.h"

namespace {

class SilentWindow : public IWindowOperations {
 public:
  void InitWebBrower() override {}
  void SetProgress(const std::string&, const std::string&, int, int) override {}
  void ShowProgressView() override {}
  void ShowMessageView() override {}
  void SetReady() override {}
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s installDir dataDir configUrl\n", argv[0]);
    return 2;
  }
  CGameRemoteConfig::SetDirectories(argv[1], argv[2]);
  UpdateState::Instance().SetRemoteConfigUrl(argv[3]);
  CGameRemoteConfig::SetCheckpointInterval(std::chrono::milliseconds(20));
  SilentWindow window;
  CGameRemoteConfig::InitRemoteConfig(&window);
  SaveResumeState();  // the way out of a launcher that was not killed
  return 0;
}
