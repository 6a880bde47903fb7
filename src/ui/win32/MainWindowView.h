// The main window: a 950 x 632 layered pop-up whose pixels and shape are the background picture
// (per-pixel alpha through UpdateLayeredWindow, painted once). A press anywhere on it drags it
// (the client area answers as the caption); its content window follows it. It opens centred on
// the work area of the monitor that holds the pointer. UI thread only.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "controls/Picture.h"
#include "ui/IContentView.h"

class ContentView;

class MainWindowView : public IMainWindowView {
 public:
  MainWindowView(const std::string& resourceDir, std::function<void()> onSystemClose);
  ~MainWindowView() override;
  MainWindowView(const MainWindowView&) = delete;
  MainWindowView& operator=(const MainWindowView&) = delete;

  HWND Window() const { return window_; }
  // The content window that moves and shows with this one.
  void SetContent(ContentView* content) { content_ = content; }

  // Places the window (see above) and shows it.
  void Show();
  // Runs the thread's message loop until EndModal; returns the result given to it.
  int RunModal();

  // IMainWindowView
  void Hide() override;
  void Minimise() override;
  void EndModal(int result) override;
  unsigned long NativeId() const override;

  // The top-left corner that centres a width x height window in area, kept inside the area's
  // top-left corner when the window is larger.
  static POINT CentredIn(const RECT& area, int width, int height);

 private:
  static LRESULT CALLBACK WindowProc(HWND, UINT, WPARAM, LPARAM);
  LRESULT Handle(UINT message, WPARAM wparam, LPARAM lparam);
  bool PaintLayered();

  std::string resourceDir_;
  std::function<void()> onSystemClose_;
  HWND window_ = nullptr;
  HICON icon_ = nullptr;
  HCURSOR cursor_ = nullptr;
  Picture background_;
  ContentView* content_ = nullptr;
  bool ended_ = false;
  int result_ = 0;
};
