// The application object: start-up (install layout, crash handler), the single-instance and
// game-running refusals, uninstall mode, and the launcher window's modal run. Main thread.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "core/LauncherContext.h"
#include "os/InstanceLock.h"

class CWebDlg;
class CImpIDispatch;

class CWebApp {
 public:
  // Runs the launcher window modally until it closes (the GTK front end supplies it).
  using WindowRunner = std::function<void(CWebDlg&, CImpIDispatch*)>;

  explicit CWebApp(LauncherContext& context);
  ~CWebApp();
  CWebApp(const CWebApp&) = delete;
  CWebApp& operator=(const CWebApp&) = delete;

  void SetWindowRunner(WindowRunner runner) { windowRunner_ = std::move(runner); }

  // Settles the install layout, creates InstallDir and DataDir, installs the crash handler.
  // False: end the process with a failure code, no window.
  bool InitApplication();
  // Uninstall mode, the refusals, or the window's modal run. Always false. On the uninstall and
  // refusal paths the process is to end at once with exit code 0 (ProcessEnded()).
  bool InitInstance();
  int ExitInstance();
  // True after InitInstance took the uninstall or a refusal path: the process ends with code 0,
  // without ExitInstance.
  bool ProcessEnded() const { return processEnded_; }
  // False when the update worker was still running after the window closed: the window and the
  // context it uses must then stay alive until the process ends.
  bool WorkerFinished() const { return workerFinished_; }

  // Uninstall (/uninstall) and the helpers it shares with start-up.
  void UnInstall();
  bool IsGameRunning();
  bool DeleteNotNullDir(const std::string& path);

  const std::string& InstallDir() const { return ctx_.layout.installDir; }
  const std::string& DataDir() const { return ctx_.layout.dataDir; }
  const std::string& DumpBasePath() const { return ctx_.layout.dumpBasePath; }
  CImpIDispatch* ScriptBridge() const { return scriptBridge_.get(); }
  CWebDlg* MainWindow() const { return mainWindow_; }

 private:
  void ReportDataDirFailure(int error);
  // DeleteNotNullDir of dir as the file system resolves it, only when that lies inside root.
  bool DeleteInside(const std::string& dir, const std::string& root);

  LauncherContext& ctx_;
  std::unique_ptr<CImpIDispatch> scriptBridge_;
  os::InstanceLock instanceMutex_;
  CWebDlg* mainWindow_ = nullptr;
  WindowRunner windowRunner_;
  bool processEnded_ = false;
  bool workerFinished_ = true;
};
