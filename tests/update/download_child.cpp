// A launcher stand-in for the kill tests: runs one update worker pass against the given
// configuration URL in the given installation, recording its state often, and exits. With a
// moment to die at, it kills itself (SIGKILL) when its window is first shown that far: at a
// download percent ("download:<percent>") or at an entry of the extraction ("unzip:<index>").
// Usage: update_download_child <installDir> <dataDir> <configUrl> [<moment>]
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/LauncherContext.h"
#include "log/LauncherLog.h"
#include "net/ITelemetry.h"
#include "update/CGameRemoteConfig.h"
#include "update/ResumeState.h"

namespace {

class SilentWindow : public IWindowOperations {
 public:
  explicit SilentWindow(const std::string& moment) {
    const size_t colon = moment.find(':');
    if (colon == std::string::npos) return;
    downloading_ = moment.substr(0, colon) == "download" ? 1 : 0;
    at_ = std::atoi(moment.c_str() + colon + 1);
  }
  void InitWebBrower() override {}
  void SetProgress(const std::string&, const std::string& text, int percent, int downloading) override {
    if (at_ < 0 || text.empty() || downloading != downloading_) return;
    // A download shows "<percent>%", an extraction "<index>/<count>".
    if ((downloading ? percent : std::atoi(text.c_str())) >= at_) std::raise(SIGKILL);
  }
  void ShowProgressView() override {}
  void ShowMessageView() override {}
  void SetReady() override {}

 private:
  int downloading_ = 0;
  int at_ = -1;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) {
    std::fprintf(stderr, "usage: %s installDir dataDir configUrl [moment]\n", argv[0]);
    return 2;
  }
  NullTelemetry telemetry;
  LauncherContext context(telemetry, MachineInfo::Collect({}), "", "update_download_child");
  context.layout = InstallLayout::Build(argv[1], context.layout.appName);
  if (context.layout.dataDir != argv[2]) {
    std::fprintf(stderr, "dataDir must be %s\n", context.layout.dataDir.c_str());
    return 2;
  }
  LauncherLog::Instance().Open(context.layout.logPath);
  context.remoteConfigUrl = argv[3];
  context.packagePublicKey.clear();  // the test serves unsigned packages, whatever this build's key
  context.updateState.checkpointInterval = std::chrono::milliseconds(20);
  SilentWindow window(argc == 5 ? argv[4] : "");
  CGameRemoteConfig(context).InitRemoteConfig(&window);
  SaveResumeState(context.updateState, context.layout);  // the way out of a launcher that was not killed
  return 0;
}
