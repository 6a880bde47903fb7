#include "os/MessageBox.h"

#include <cstdio>
#include <mutex>

namespace os {

namespace {

std::mutex& PresenterMutex() {
  static std::mutex m;
  return m;
}

MessageBoxPresenter& Presenter() {
  static MessageBoxPresenter p;
  return p;
}

}  // namespace

void SetMessageBoxPresenter(MessageBoxPresenter presenter) {
  std::lock_guard<std::mutex> lock(PresenterMutex());
  Presenter() = std::move(presenter);
}

MsgAnswer ShowMessageBox(const std::string& text, const std::string& caption, MsgIcon icon, MsgButtons buttons) {
  MessageBoxPresenter presenter;
  {
    std::lock_guard<std::mutex> lock(PresenterMutex());
    presenter = Presenter();
  }
  if (presenter) return presenter(text, caption, icon, buttons);
  // No display: say it on standard error and take the safe answer.
  std::fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
  std::fflush(stderr);
  return buttons == MsgButtons::YesNo ? MsgAnswer::No : MsgAnswer::Ok;
}

}  // namespace os
