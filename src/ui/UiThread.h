// Hand-off to the user-interface thread (the platform's loop, os/MainLoop.h). A window operation called from
// another thread runs on the UI thread while the caller waits, like a synchronous window message.
// Once Shutdown() has run (the window is gone), calls return at once without running anything.
#pragma once

#include <functional>

namespace ui {

// Called once on the UI thread before any window exists.
void UiThreadInit();

bool IsUiThread();

// Runs fn on the UI thread and waits for it. Inline when already on the UI thread.
// Returns false (fn not run) after Shutdown or when called before UiThreadInit.
bool InvokeOnUiThread(const std::function<void()>& fn);

// Runs fn on the UI thread later without waiting (any thread).
void PostToUiThread(std::function<void()> fn);

// Marks the UI as gone: pending and later invokes return false at once. UI thread.
void UiThreadShutdown();

}  // namespace ui
