// The launcher's progress on its dock or task-bar entry, where the desktop supports the common
// launcher-entry interface over D-Bus: "Update" signals with "progress" (0..1) and
// "progress-visible" for the application's desktop entry, and a "Query" method that answers the
// same for a dock started later. Without a session bus (or with a desktop that ignores the
// signals) nothing else changes; the missing bus is logged once. UI thread only.
#pragma once

#include <gio/gio.h>

#include <string>

class LauncherEntryProgress {
 public:
  // desktopId: the desktop entry's file name, e.g. "org.example.App.desktop".
  explicit LauncherEntryProgress(const std::string& desktopId);
  ~LauncherEntryProgress();
  LauncherEntryProgress(const LauncherEntryProgress&) = delete;
  LauncherEntryProgress& operator=(const LauncherEntryProgress&) = delete;

  // Position within 0..100 (values outside are clamped); sent when it changes the whole percent.
  void SetPercent(int percent);
  void SetVisible(bool visible);

  // The object path the entry is published on.
  static constexpr const char* kObjectPath = "/com/canonical/unity/launcherentry/vellmora";
  static constexpr const char* kInterface = "com.canonical.Unity.LauncherEntry";

 private:
  static void OnBus(GObject*, GAsyncResult*, gpointer);
  static void OnMethodCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
                           GDBusMethodInvocation*, gpointer);
  GVariant* Properties() const;
  void Emit();

  std::string appUri_;
  GCancellable* cancel_ = nullptr;
  GDBusConnection* bus_ = nullptr;
  guint registration_ = 0;
  int percent_ = 0;
  bool visible_ = false;
};
