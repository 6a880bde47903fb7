// A launcher stand-in for the kill test: runs one update worker pass against the given
// configuration URL in the given installation, recording its state often, and exits.
// Usage: update_download_child <installDir> <dataDir> <configUrl>
#include <chrono>
#include <cstdio>
#include <string>

#include "core/LauncherContext.h"
#include "log/LauncherLog.h"
#include "net/ITelemetry.h"
#include "update/CGameRemoteConfig.h"
#include "update/ResumeState.h"

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
  SilentWindow window;
  CGameRemoteConfig(context).InitRemoteConfig(&window);
  SaveResumeState(context.updateState, context.layout);  // the way out of a launcher that was not killed
  return 0;
}
