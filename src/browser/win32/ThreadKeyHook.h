// Hands the key messages of this thread's queue to a translator before they are dispatched: the
// browser control only sees its own key filter (IDocHostUIHandler::TranslateAccelerator) when its
// container offers it the keys, and the launcher's message loops know nothing of the page. A key
// message the translator uses is dispatched as WM_NULL, so nobody acts on it twice. One hook per
// thread (one page per window): a second one on the same thread stays uninstalled (logged). UI
// thread only; install and remove it on the same thread.
#pragma once

#include <windows.h>

#include <functional>

class ThreadKeyHook {
 public:
  using Translator = std::function<bool(MSG& message)>;  // true: used, not to be dispatched

  explicit ThreadKeyHook(Translator translate);
  ~ThreadKeyHook();
  ThreadKeyHook(const ThreadKeyHook&) = delete;
  ThreadKeyHook& operator=(const ThreadKeyHook&) = delete;

  bool Installed() const { return hook_ != nullptr; }

 private:
  static LRESULT CALLBACK OnMessage(int code, WPARAM removal, LPARAM message);

  Translator translate_;
  HHOOK hook_ = nullptr;
};
