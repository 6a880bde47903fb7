// The newest values written to the content window's progress controls, kept until the UI thread
// applies them. Each property holds only its latest value, so a burst of updates from the update
// worker costs the UI thread one pass, and the worker never waits for it. Portable: any front end
// applies the values to its own view.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "ui/IContentView.h"

class PendingControls {
 public:
  // Any thread. A later write of the same property replaces an earlier one not yet applied.
  void SetText(int controlId, const std::string& text);
  void SetVisible(int controlId, bool visible);
  void SetPos(int pos);

  // Any thread, after a write: true when the caller must have ApplyTo run on the UI thread
  // (nothing has asked for it since the last apply). At most one apply is asked for at a time.
  bool NeedsApply();

  // The properties changed since the last Take, newest value only.
  class Batch {
   public:
    // UI thread: writes them to view.
    void ApplyTo(IContentView& view) const;

   private:
    friend class PendingControls;
    std::map<int, std::string> texts_;
    std::map<int, bool> visible_;
    std::optional<int> pos_;
  };

  // UI thread: hands over what was written and forgets it; values written afterwards go into the
  // next batch, and the next write asks for an apply again.
  Batch Take();

  // UI thread: forgets what has not been applied (a view attached afresh starts from its own state).
  void Clear();

 private:
  std::mutex lock_;
  Batch values_;
  bool applyAsked_ = false;
};
