// Driving the UI loop from a test on the UI thread: iterate until something happened, and run a
// script in a web view's page and wait for its value.
#pragma once

#include <glib.h>
#include <webkit2/webkit2.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

// Iterates the default main context until done() or the deadline; false on timeout.
inline bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    if (!g_main_context_iteration(nullptr, FALSE)) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

inline void PumpFor(int ms) {
  PumpUntil([] { return false; }, ms);
}

// Runs fn on this thread's loop once it is idle (after what is already due: a map, a draw).
inline void RunWhenIdle(std::function<void()> fn) {
  g_idle_add_full(
      G_PRIORITY_DEFAULT_IDLE,
      [](gpointer data) {
        (*static_cast<std::function<void()>*>(data))();
        return G_SOURCE_REMOVE;
      },
      new std::function<void()>(std::move(fn)),
      [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
}

// Runs script in the main frame's page world; its value as text ("<error>" on failure,
// "<timeout>" when no answer came within 10 s).
inline std::string Eval(WebKitWebView* view, const std::string& script) {
  struct Result {
    bool done = false;
    std::string text;
  } result;
  webkit_web_view_evaluate_javascript(
      view, script.c_str(), -1, nullptr, nullptr, nullptr,
      [](GObject* source, GAsyncResult* res, gpointer data) {
        auto* r = static_cast<Result*>(data);
        GError* error = nullptr;
        JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), res, &error);
        if (value) {
          char* s = jsc_value_to_string(value);
          r->text = s ? s : "";
          g_free(s);
          g_object_unref(value);
        } else {
          r->text = "<error>";
          if (error) g_error_free(error);
        }
        r->done = true;
      },
      &result);
  if (!PumpUntil([&] { return result.done; }, 10000)) return "<timeout>";
  return result.text;
}
