// Where the login page goes in the content window. The browser control's host implements
// IPageHost; the front end asks a PageHostFactory for one once the content window exists and gives
// it the page's rectangle. Without a factory the launcher runs without a page (logged). UI thread.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

class CImpIDispatch;

class IPageHost {
 public:
  virtual ~IPageHost() = default;
  // The page's window, a child of the content window at the given rectangle.
  virtual HWND Window() const = 0;
  // Opens the login page; documents of its origin are the only ones the script bridge serves.
  virtual void Navigate(const std::string& url) = 0;
  // The Ready flag changed (a page that reads it synchronously is brought up to date).
  virtual void OnReadyChanged(bool /*ready*/) {}
};

struct PageHostParams {
  HWND parent = nullptr;            // the content window
  int id = 0;                       // the control id of the page (kIdBrowser)
  RECT rect = {};                   // in the parent's client pixels
  CImpIDispatch* bridge = nullptr;  // where the page's calls go (window.external)
  // Where new windows' http/https addresses go; empty: the user's default browser.
  std::function<void(const std::string& url)> openExternally;
};

using PageHostFactory = std::function<std::unique_ptr<IPageHost>(const PageHostParams&)>;
