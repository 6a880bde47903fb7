#include "ui/PendingControls.h"

#include <utility>

void PendingControls::SetText(int controlId, const std::string& text) {
  std::lock_guard<std::mutex> lock(lock_);
  values_.texts_[controlId] = text;
}

void PendingControls::SetVisible(int controlId, bool visible) {
  std::lock_guard<std::mutex> lock(lock_);
  values_.visible_[controlId] = visible;
}

void PendingControls::SetPos(int pos) {
  std::lock_guard<std::mutex> lock(lock_);
  values_.pos_ = pos;
}

bool PendingControls::NeedsApply() {
  std::lock_guard<std::mutex> lock(lock_);
  if (applyAsked_) return false;
  applyAsked_ = true;
  return true;
}

PendingControls::Batch PendingControls::Take() {
  std::lock_guard<std::mutex> lock(lock_);
  applyAsked_ = false;
  return std::exchange(values_, Batch{});
}

void PendingControls::Clear() {
  std::lock_guard<std::mutex> lock(lock_);
  values_ = Batch{};
  applyAsked_ = false;  // an apply still queued finds nothing; the next write asks afresh
}

// The properties are independent, so the order among them does not change what the window shows.
void PendingControls::Batch::ApplyTo(IContentView& view) const {
  if (pos_) view.SetProgressPos(*pos_);
  for (const auto& [id, text] : texts_) view.SetControlText(id, text);
  for (const auto& [id, visible] : visible_) view.SetControlVisible(id, visible);
}
