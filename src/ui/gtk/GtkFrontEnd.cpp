#include "ui/gtk/GtkFrontEnd.h"

#include <glib-unix.h>
#include <csignal>

#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include "log/LauncherLog.h"
#include "os/FileSystem.h"
#include "os/MessageBox.h"
#include "os/Process.h"
#include "ui/CImpIDispatch.h"
#include "ui/CWebDlg.h"
#include "ui/UiThread.h"
#include "ui/gtk/ContentView.h"
#include "ui/gtk/MainWindowView.h"

#ifndef VELLMORA_RES_DIR
#define VELLMORA_RES_DIR "res"
#endif
#ifndef VELLMORA_RES_RELATIVE
#define VELLMORA_RES_RELATIVE "../share/vellmora/res"
#endif
#ifndef VELLMORA_INSTALLED_RES_DIR
#define VELLMORA_INSTALLED_RES_DIR "/usr/share/vellmora/res"
#endif

namespace {

GtkWindow* gActiveWindow = nullptr;  // parent of message boxes while the launcher window exists

os::MsgAnswer PresentWithGtk(const std::string& text, const std::string& caption, os::MsgIcon icon,
                             os::MsgButtons buttons) {
  GtkMessageType type = GTK_MESSAGE_INFO;
  switch (icon) {
    case os::MsgIcon::Information: type = GTK_MESSAGE_INFO; break;
    case os::MsgIcon::Warning: type = GTK_MESSAGE_WARNING; break;
    case os::MsgIcon::Error: type = GTK_MESSAGE_ERROR; break;
    case os::MsgIcon::Question: type = GTK_MESSAGE_QUESTION; break;
  }
  GtkWidget* dialog = gtk_message_dialog_new(gActiveWindow, GTK_DIALOG_MODAL, type,
                                             buttons == os::MsgButtons::YesNo ? GTK_BUTTONS_YES_NO : GTK_BUTTONS_OK,
                                             "%s", text.c_str());
  gtk_window_set_title(GTK_WINDOW(dialog), caption.c_str());
  gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
  const int response = gtk_dialog_run(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
  if (buttons == os::MsgButtons::YesNo) return response == GTK_RESPONSE_YES ? os::MsgAnswer::Yes : os::MsgAnswer::No;
  return os::MsgAnswer::Ok;
}

// Two services reach the platform through X11: the show-window message (addressed to an X window
// id, sent with the launcher's own X window as the sender) and the keyboard map the page's key
// filter reads. On another display server both still run in a reduced form; say so once.
void LogDisplayServices() {
  GdkDisplay* display = gdk_display_get_default();
  if (!display || GDK_IS_X11_DISPLAY(display)) return;
  LogInfo(std::string("display server ") + G_OBJECT_TYPE_NAME(display) +
              ": the show-window message goes without a sender window (and only where DISPLAY reaches the "
              "platform's X server); the key filter sees the pressed key only, not the other keys held",
          "RunLauncherWindow", "GtkFrontEnd", __LINE__);
}

}  // namespace

std::string ResourceDir() {
  const std::string candidates[] = {os::JoinPath(os::ExecutableDir(), "res"),
                                    os::JoinPath(os::ExecutableDir(), VELLMORA_RES_RELATIVE),
                                    VELLMORA_INSTALLED_RES_DIR};
  for (const std::string& dir : candidates)
    if (os::PathExists(os::JoinPath(dir, "background.png"))) return dir;
  return VELLMORA_RES_DIR;
}

void InstallGtkMessageBoxPresenter() {
  if (!gtk_init_check(nullptr, nullptr)) return;
  os::SetMessageBoxPresenter(PresentWithGtk);
}

int RunLauncherWindowWith(CWebDlg& dlg, const LauncherWindowOptions& options) {
  if (!gtk_init_check(nullptr, nullptr)) {
    LogError("no display", "RunLauncherWindow", "GtkFrontEnd", __LINE__);
    return -1;
  }
  ui::UiThreadInit();
  const std::string resources = options.resourceDir.empty() ? ResourceDir() : options.resourceDir;

  // Page calls: the given handler, else the given bridge, else one bound to this window.
  std::unique_ptr<CImpIDispatch> ownBridge;
  CImpIDispatch* bridge = options.bridge;
  if (!options.external && !bridge) {
    ownBridge = std::make_unique<CImpIDispatch>([&dlg] { return &dlg; });
    bridge = ownBridge.get();
  }
  WebViewHost::ExternalCall external = options.external;
  if (!external) {
    external = [bridge](int dispid, const std::vector<std::string>& reversedArgs) {
      bridge->Invoke(dispid, reversedArgs, false);
    };
  }

  LogDisplayServices();
  dlg.CreateContent();
  ContentView::Actions actions;
  std::unique_ptr<MainWindowView> main;
  actions.minimise = [&main] {
    if (main) main->Minimise();
  };
  actions.close = [&dlg] { dlg.Close(); };
  actions.external = external;
  actions.openExternally = options.openExternally;
  auto content = std::make_unique<ContentView>(resources, actions);
  main = std::make_unique<MainWindowView>(resources, content->Layer(), [&dlg] { dlg.OnSystemClose(); });

  dlg.AttachView(main.get());
  dlg.Content()->AttachView(content.get());
  main->Show();
  // The window goes to the X server now; then the page's web process starts, while the worker
  // fetches the configuration.
  gdk_display_flush(gtk_widget_get_display(main->Window()));
  content->Browser().Prewarm();
  gActiveWindow = GTK_WINDOW(main->Window());
  if (options.onShown) options.onShown(LauncherWindowParts{main.get(), content.get()});

  if (options.startWorker) {
    options.startWorker();
  } else {
    dlg.StartUpdateWorker();
  }
  // A termination request (logout, kill, Ctrl+C in a terminal) closes like the window manager's
  // close, so the resume state is saved on the way out.
  guint signalSources[3] = {};
  const int signals[3] = {SIGTERM, SIGINT, SIGHUP};
  for (int i = 0; i < 3; ++i)
    signalSources[i] = g_unix_signal_add(
        signals[i],
        [](gpointer data) -> gboolean {
          static_cast<CWebDlg*>(data)->OnSystemClose();
          return G_SOURCE_CONTINUE;
        },
        &dlg);
  const int result = main->RunModal();
  for (guint id : signalSources)
    if (id) g_source_remove(id);

  // Release any worker waiting on the window before anything that may wait on the worker.
  ui::UiThreadShutdown();
  gActiveWindow = nullptr;
  dlg.OnDestroy();
  dlg.Content()->AttachView(nullptr);
  dlg.AttachView(nullptr);
  content.reset();
  main.reset();
  while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
  return result;
}

void RunLauncherWindow(CWebDlg& dlg, CImpIDispatch* bridge) {
  LauncherWindowOptions options;
  options.bridge = bridge;
  RunLauncherWindowWith(dlg, options);
}
