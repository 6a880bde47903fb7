// The window operations the update worker calls, from its own thread. The launcher window
// implements them (progress is posted and shown on the UI thread without the worker waiting; the
// others run on the UI thread while the worker waits, and return at once once the window is gone);
// tests replace them with a recorder.
#pragma once

#include <string>

class IWindowOperations {
 public:
  virtual ~IWindowOperations() = default;

  virtual void InitWebBrower() = 0;
  // downloading: non-zero while downloading, zero while unzipping or for messages.
  virtual void SetProgress(const std::string& message, const std::string& progressText, int percent,
                           int downloading) = 0;
  virtual void ShowProgressView() = 0;
  virtual void ShowMessageView() = 0;
  virtual void SetReady() = 0;
};
