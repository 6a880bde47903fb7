#include "ui/gtk/LauncherEntryProgress.h"

#include <algorithm>

#include "log/LauncherLog.h"

namespace {

constexpr char kIntrospection[] =
    "<node><interface name='com.canonical.Unity.LauncherEntry'>"
    "<method name='Query'><arg type='s' name='app_uri' direction='out'/>"
    "<arg type='a{sv}' name='properties' direction='out'/></method>"
    "<signal name='Update'><arg type='s' name='app_uri'/><arg type='a{sv}' name='properties'/></signal>"
    "</interface></node>";

// A session has its bus in DBUS_SESSION_BUS_ADDRESS or at $XDG_RUNTIME_DIR/bus. Without either,
// asking for the bus would start one of our own (D-Bus autolaunch) that outlives the launcher.
bool SessionBusExists() {
  const char* address = g_getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address && *address) return true;
  gchar* socket = g_build_filename(g_get_user_runtime_dir(), "bus", nullptr);
  const bool exists = g_file_test(socket, G_FILE_TEST_EXISTS);
  g_free(socket);
  return exists;
}

}  // namespace

LauncherEntryProgress::LauncherEntryProgress(const std::string& desktopId) : appUri_("application://" + desktopId) {
  cancel_ = g_cancellable_new();
  if (!SessionBusExists()) {
    LogInfo("no session bus, no progress on the task bar", "LauncherEntryProgress::LauncherEntryProgress",
            "LauncherEntryProgress", __LINE__);
    return;
  }
  g_bus_get(G_BUS_TYPE_SESSION, cancel_, OnBus, this);
}

LauncherEntryProgress::~LauncherEntryProgress() {
  g_cancellable_cancel(cancel_);
  g_object_unref(cancel_);
  if (!bus_) return;
  // The entry shows no progress once the launcher is gone.
  if (visible_) {
    visible_ = false;
    Emit();
  }
  if (registration_) g_dbus_connection_unregister_object(bus_, registration_);
  g_dbus_connection_flush(bus_, nullptr, nullptr, nullptr);
  g_object_unref(bus_);
}

// UI thread (the default main context); after a cancel `data` may be gone and is not touched.
void LauncherEntryProgress::OnBus(GObject*, GAsyncResult* result, gpointer data) {
  GError* error = nullptr;
  GDBusConnection* bus = g_bus_get_finish(result, &error);
  if (!bus) {
    if (!g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
      LogInfo(std::string("no session bus, no progress on the task bar: ") + (error ? error->message : ""),
              "LauncherEntryProgress::OnBus", "LauncherEntryProgress", __LINE__);
    }
    if (error) g_error_free(error);
    return;
  }
  auto* self = static_cast<LauncherEntryProgress*>(data);
  // A session bus that goes away must not end the launcher (the shared connection's default).
  g_dbus_connection_set_exit_on_close(bus, FALSE);
  self->bus_ = bus;
  GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
  static const GDBusInterfaceVTable vtable = {OnMethodCall, nullptr, nullptr, {}};
  self->registration_ =
      g_dbus_connection_register_object(bus, kObjectPath, node->interfaces[0], &vtable, self, nullptr, &error);
  g_dbus_node_info_unref(node);
  if (!self->registration_) {
    LogInfo(std::string("launcher entry not published: ") + (error ? error->message : ""),
            "LauncherEntryProgress::OnBus", "LauncherEntryProgress", __LINE__);
    if (error) g_error_free(error);
  }
  if (self->visible_) self->Emit();
}

void LauncherEntryProgress::OnMethodCall(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                         const gchar* method, GVariant*, GDBusMethodInvocation* invocation,
                                         gpointer data) {
  auto* self = static_cast<LauncherEntryProgress*>(data);
  if (g_strcmp0(method, "Query") != 0) {
    g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD, "no method %s",
                                          method);
    return;
  }
  g_dbus_method_invocation_return_value(invocation,
                                        g_variant_new("(s@a{sv})", self->appUri_.c_str(), self->Properties()));
}

GVariant* LauncherEntryProgress::Properties() const {
  GVariantBuilder b;
  g_variant_builder_init(&b, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&b, "{sv}", "progress", g_variant_new_double(percent_ / 100.0));
  g_variant_builder_add(&b, "{sv}", "progress-visible", g_variant_new_boolean(visible_));
  return g_variant_builder_end(&b);
}

void LauncherEntryProgress::Emit() {
  if (!bus_) return;  // sent once the bus is there
  g_dbus_connection_emit_signal(bus_, nullptr, kObjectPath, kInterface, "Update",
                                g_variant_new("(s@a{sv})", appUri_.c_str(), Properties()), nullptr);
}

void LauncherEntryProgress::SetPercent(int percent) {
  percent = std::clamp(percent, 0, 100);
  if (percent == percent_) return;
  percent_ = percent;
  if (visible_) Emit();
}

void LauncherEntryProgress::SetVisible(bool visible) {
  if (visible == visible_) return;
  visible_ = visible;
  Emit();
}
