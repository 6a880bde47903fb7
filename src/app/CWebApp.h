// The application object: start-up (install layout, crash handler), the single-instance and
// game-running refusals, uninstall mode, and the launcher window's modal run. Main thread.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "os/InstanceLock.h"

class CWebDlg;
class CImpIDispatch;

class CWebApp {
 public:
  // Runs the launcher window modally until it closes (the GTK front end supplies it).
  using WindowRunner = std::function<void(CWebDlg&)>;

  CWebApp();
  ~CWebApp();
  CWebApp(const CWebApp&) = delete;
  CWebApp& operator=(const CWebApp&) = delete;

  // The one application object of the process (set by the constructor).
  static CWebApp* Get();

  void SetWindowRunner(WindowRunner runner) { windowRunner_ = std::move(runner); }

  // Settles InstallDir and DataDir, creates them, installs the crash handler. False: end the
  // process with a failure code, no window.
  bool InitApplication();
  // Uninstall mode, the refusals, or the window's modal run. Returns false once the window has
  // closed; on the uninstall and refusal paths the process ends with exit code 0 (exitProcess).
  bool InitInstance();
  int ExitInstance();

  // Uninstall (/uninstall) and the helpers it shares with start-up.
  void UnInstall();
  bool IsGameRunning();
  bool DeleteNotNullDir(const std::string& path);

  const std::string& InstallDir() const { return installDir_; }
  const std::string& DataDir() const { return dataDir_; }
  const std::string& DumpBasePath() const { return dumpBasePath_; }
  CImpIDispatch* ScriptBridge() const { return scriptBridge_.get(); }
  CWebDlg* MainWindow() const { return mainWindow_; }

  // The install-directory rule: drive C:, then D:, then the registry's "InstallPath", then the
  // launcher directory (which ends in '/') followed by "qvx-<channel>".
  static std::string SettleInstallDir(const std::string& registryValue, const std::string& launcherDir);

  // The game executable: <DataDir>/qvx/qvx.
  std::string GameExecutablePath() const;

  // Ends the process (exit code); tests replace it to observe the paths that end the process.
  std::function<void(int)> exitProcess;

 private:
  std::string installDir_;
  std::string dataDir_;
  std::string dumpBasePath_;
  std::unique_ptr<CImpIDispatch> scriptBridge_;
  os::InstanceLock instanceMutex_;
  CWebDlg* mainWindow_ = nullptr;
  WindowRunner windowRunner_;
};
