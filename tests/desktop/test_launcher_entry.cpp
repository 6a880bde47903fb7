// Task-bar progress over a private session bus (GTestDBus starts one and points
// DBUS_SESSION_BUS_ADDRESS at it): what a dock listening for the launcher-entry signals sees.
#include <gtest/gtest.h>

#include <gio/gio.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "ui/gtk/LauncherEntryProgress.h"

namespace {

struct Update {
  std::string uri;
  double progress = -1;
  bool visible = false;
  bool operator==(const Update& o) const { return uri == o.uri && progress == o.progress && visible == o.visible; }
};

std::ostream& operator<<(std::ostream& os, const Update& u) {
  return os << "{" << u.uri << " " << u.progress << " " << (u.visible ? "shown" : "hidden") << "}";
}

Update FromVariant(GVariant* tuple) {
  Update u;
  const gchar* uri = nullptr;
  GVariant* props = nullptr;
  g_variant_get(tuple, "(&s@a{sv})", &uri, &props);
  u.uri = uri ? uri : "";
  g_variant_lookup(props, "progress", "d", &u.progress);
  gboolean visible = FALSE;
  g_variant_lookup(props, "progress-visible", "b", &visible);
  u.visible = visible;
  g_variant_unref(props);
  return u;
}

bool PumpUntil(const std::function<bool()>& done, int ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    g_main_context_iteration(nullptr, FALSE);
    g_usleep(2000);
  }
  return true;
}

TEST(LauncherEntryProgress, DockSeesThePercentWhileTheBarShowsAndNothingAfter) {
  GTestDBus* bus = g_test_dbus_new(G_TEST_DBUS_NONE);
  g_test_dbus_up(bus);
  GDBusConnection* dock = g_dbus_connection_new_for_address_sync(
      g_test_dbus_get_bus_address(bus),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, nullptr);
  ASSERT_NE(dock, nullptr);
  std::vector<Update> seen;
  std::string sender;
  const guint subscription = g_dbus_connection_signal_subscribe(
      dock, nullptr, LauncherEntryProgress::kInterface, "Update", nullptr, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
      [](GDBusConnection*, const gchar* from, const gchar*, const gchar*, const gchar*, GVariant* params,
         gpointer data) {
        auto* out = static_cast<std::pair<std::vector<Update>*, std::string*>*>(data);
        out->first->push_back(FromVariant(params));
        *out->second = from;
      },
      new std::pair<std::vector<Update>*, std::string*>(&seen, &sender),
      [](gpointer data) { delete static_cast<std::pair<std::vector<Update>*, std::string*>*>(data); });

  const std::string uri = "application://org.example.Launcher.desktop";
  {
    LauncherEntryProgress progress("org.example.Launcher.desktop");
    progress.SetVisible(true);  // before the bus is there: sent once it is
    progress.SetPercent(42);
    ASSERT_TRUE(PumpUntil([&] { return seen.size() >= 1 && seen.back().progress == 0.42; }, 5000))
        << (seen.empty() ? Update{} : seen.back());
    progress.SetPercent(42);   // no change, no signal
    progress.SetPercent(250);  // clamped
    ASSERT_TRUE(PumpUntil([&] { return seen.back().progress == 1.0; }, 5000));
    progress.SetVisible(false);
    progress.SetPercent(7);  // hidden: nothing to show
    ASSERT_TRUE(PumpUntil([&] { return !seen.back().visible; }, 5000));

    // A dock started later asks (asynchronously: the answer comes from this thread's loop).
    GVariant* reply = nullptr;
    g_dbus_connection_call(
        dock, sender.c_str(), LauncherEntryProgress::kObjectPath, LauncherEntryProgress::kInterface, "Query", nullptr,
        G_VARIANT_TYPE("(sa{sv})"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr,
        [](GObject* source, GAsyncResult* res, gpointer out) {
          *static_cast<GVariant**>(out) = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), res, nullptr);
        },
        &reply);
    PumpUntil([&] { return reply != nullptr; }, 5000);
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(FromVariant(reply), (Update{uri, 0.07, false}));
    g_variant_unref(reply);
    progress.SetVisible(true);
    ASSERT_TRUE(PumpUntil([&] { return seen.back().visible; }, 5000));
  }  // gone while showing: the entry's progress is hidden
  ASSERT_TRUE(PumpUntil([&] { return !seen.back().visible; }, 5000));
  const std::vector<Update> expected = {
      {uri, 0.42, true}, {uri, 1.0, true}, {uri, 1.0, false}, {uri, 0.07, true}, {uri, 0.07, false}};
  // The first signal may carry 0 (sent on connection) before 42 arrives; the rest is exact.
  std::vector<Update> tail(seen.end() - std::min(seen.size(), expected.size()), seen.end());
  EXPECT_EQ(tail, expected);
  EXPECT_LE(seen.size(), expected.size() + 1);

  g_dbus_connection_signal_unsubscribe(dock, subscription);
  g_dbus_connection_close_sync(dock, nullptr, nullptr);
  g_object_unref(dock);
  g_test_dbus_down(bus);
  g_object_unref(bus);
}

}  // namespace
