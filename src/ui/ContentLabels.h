// The content window's three labels and the control ids that name them: the one mapping both
// front ends use, so that an id reaches the same label on each. UI thread only.
#pragma once

#include <string>
#include <utility>

#include "controls/CStaticEx.h"
#include "ui/IContentView.h"

struct ContentLabels {
  CStaticEx status;        // kIdStatusLabel
  CStaticEx progressText;  // kIdProgressText
  CStaticEx message;       // kIdMessageText

  // The label a control id names; null for every other control.
  const CStaticEx* Find(int controlId) const {
    switch (controlId) {
      case kIdStatusLabel: return &status;
      case kIdProgressText: return &progressText;
      case kIdMessageText: return &message;
      default: return nullptr;
    }
  }
  CStaticEx* Find(int controlId) { return const_cast<CStaticEx*>(std::as_const(*this).Find(controlId)); }

  // A label's text; empty for every other control.
  std::string Text(int controlId) const {
    const CStaticEx* label = Find(controlId);
    return label ? label->GetWindowText() : std::string();
  }

  void SetTextColor(ColorRef color) {
    for (CStaticEx* label : {&status, &progressText, &message}) label->SetTextColor(color);
  }
};
