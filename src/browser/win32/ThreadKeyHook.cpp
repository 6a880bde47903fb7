#include "browser/win32/ThreadKeyHook.h"

#include "log/LauncherLog.h"

namespace {

constexpr char kModule[] = "ThreadKeyHook";

// The hook procedure gets no context of its own: the thread's installed hook object.
thread_local ThreadKeyHook* installed = nullptr;

}  // namespace

ThreadKeyHook::ThreadKeyHook(Translator translate) : translate_(std::move(translate)) {
  if (installed) {
    LogError("a key hook is already installed on this thread", "ThreadKeyHook::ThreadKeyHook", kModule, __LINE__);
    return;
  }
  hook_ = SetWindowsHookExW(WH_GETMESSAGE, OnMessage, nullptr, GetCurrentThreadId());
  if (!hook_) {
    LogError("no key hook: " + std::to_string(GetLastError()), "ThreadKeyHook::ThreadKeyHook", kModule, __LINE__);
    return;
  }
  installed = this;
}

ThreadKeyHook::~ThreadKeyHook() {
  if (!hook_) return;
  UnhookWindowsHookEx(hook_);
  installed = nullptr;
}

LRESULT CALLBACK ThreadKeyHook::OnMessage(int code, WPARAM removal, LPARAM message) {
  auto* msg = reinterpret_cast<MSG*>(message);
  // Only a message that leaves the queue now (not a peek) is offered, so it is translated once.
  if (code == HC_ACTION && removal == PM_REMOVE && msg && msg->message >= WM_KEYFIRST && msg->message <= WM_KEYLAST &&
      installed && installed->translate_ && installed->translate_(*msg)) {
    msg->message = WM_NULL;
    msg->wParam = 0;
    msg->lParam = 0;
  }
  return CallNextHookEx(nullptr, code, removal, message);
}
