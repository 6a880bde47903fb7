// vellmora: the game launcher. The main thread is the user-interface thread; it builds the one
// launcher context that everything else is handed.
#include <gtk/gtk.h>

#include <memory>

#include "Identity.h"
#include "app/CWebApp.h"
#include "core/LauncherContext.h"
#include "net/MachineInfo.h"
#include "net/WebLogger.h"
#include "os/Process.h"
#include "ui/CWebDlg.h"
#include "ui/UiThread.h"
#include "ui/gtk/GtkFrontEnd.h"

int main(int argc, char** argv) {
  os::SetArguments(argc, argv);
  // GTK gets no arguments: the launcher's command line belongs to the platform and the game.
  bool display = gtk_init_check(nullptr, nullptr);
  if (display) InstallGtkMessageBoxPresenter();
  ui::UiThreadInit();

  // The reporter's notifications and timers run on this (the UI) thread's context.
  MachineInfo machine = MachineInfo::Collect(MachineInfo::Sources{});
  auto telemetry = std::make_unique<WebLogger>(machine, identity::InfoReportUrl, identity::ErrorReportUrl);
  auto context =
      std::make_unique<LauncherContext>(*telemetry, std::move(machine), os::ArgumentString(), os::ApplicationName());
  auto app = std::make_unique<CWebApp>(*context);
  app->SetWindowRunner([](CWebDlg& dlg, CImpIDispatch* bridge) { RunLauncherWindow(dlg, bridge); });

  int code = 1;
  if (app->InitApplication()) {
    app->InitInstance();
    code = app->ProcessEnded() ? 0 : app->ExitInstance();
  }
  if (!app->WorkerFinished()) {
    // The update worker still runs (stuck in a system call) and uses the window, the context,
    // the reporter, libcurl and OpenSSL: returning would destroy them and run the libraries'
    // clean-ups under it. The resume state and the log are written already; reports in flight
    // still get their bounded wait, then the process ends where it stands.
    telemetry->Shutdown();
    os::EndProcessNow(code);
  }
  return code;
}
