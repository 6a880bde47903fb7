#include "browser/NewWindowGate.h"

#include "os/CodePage.h"

namespace {

bool IsAsciiAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

bool EqualsIgnoringCase(const std::string& text, const char* lower) {
  size_t i = 0;
  for (; i < text.size() && lower[i]; ++i) {
    const char c = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] - 'A' + 'a') : text[i];
    if (c != lower[i]) return false;
  }
  return i == text.size() && !lower[i];
}

}  // namespace

// The scheme is what precedes the first ":" when it is a letter followed by letters, digits, "+",
// "-" or "."; without one there is no scheme.
bool NewWindowGate::IsWebAddress(const std::string& uri) {
  if (uri.empty() || !IsAsciiAlpha(uri[0])) return false;
  size_t end = 1;
  while (end < uri.size() &&
         (IsAsciiAlpha(uri[end]) || IsAsciiDigit(uri[end]) || uri[end] == '+' || uri[end] == '-' || uri[end] == '.')) {
    ++end;
  }
  if (end >= uri.size() || uri[end] != ':') return false;
  const std::string scheme = uri.substr(0, end);
  return EqualsIgnoringCase(scheme, "http") || EqualsIgnoringCase(scheme, "https");
}

NewWindowGate::Decision NewWindowGate::Decide(const std::string& uri, bool userGesture,
                                              OpenBudget::Clock::time_point now) {
  Decision decision;
  if (uri.empty() || uri == "about:blank") return decision;  // nothing to show anywhere
  const char* refusal = nullptr;
  if (!userGesture) {
    refusal = "new window refused (no user gesture): ";
  } else if (!IsWebAddress(uri)) {
    refusal = "new window refused: ";
  } else if (!opens_.Take(now)) {
    refusal = "new window refused (more than 3 a minute): ";
  }
  if (!refusal) {
    decision.open = true;
  } else if (refusalsLogged_ < kMaxRefusalLines) {
    ++refusalsLogged_;
    decision.logLine = os::TruncateUtf16(refusal + uri, 2047);
  }
  return decision;
}
