// vellmora: the game launcher. The main thread is the user-interface thread.
#include <gtk/gtk.h>

#include "app/CWebApp.h"
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

  CWebApp app;
  app.SetWindowRunner([&app](CWebDlg& dlg) { RunLauncherWindow(dlg, app.ScriptBridge()); });
  if (!app.InitApplication()) return 1;
  app.InitInstance();
  return app.ExitInstance();
}
