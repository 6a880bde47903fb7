// The remote configuration: an ordered key -> value table filled once per run from the
// configuration document (LF-separated "key=value" lines). Filled on the update worker; read
// afterwards from any thread (every reader runs after the fill).
#pragma once

#include <map>
#include <optional>
#include <string>

class RemoteConfigTable {
 public:
  // Parses a document (UTF-8): split at LF only (a CR stays in the value), the first "="
  // splits key from value, a line without "=" is the empty key; the first occurrence of a key
  // wins. A document ending in LF yields a final empty line.
  void Parse(const std::string& document);

  // Absent keys are distinguishable from empty values.
  std::optional<std::string> Find(const std::string& key) const;
  size_t Size() const { return entries_.size(); }

  // Value of "EntryUrl" / "CustomParameters", empty when absent. Any thread, after the fill.
  std::string GetEntryUrl() const { return Find("EntryUrl").value_or(std::string()); }
  std::string GetCustomParameters() const { return Find("CustomParameters").value_or(std::string()); }

 private:
  // Keys order by UTF-16 code unit, as wide-string keys would.
  struct Utf16Less {
    bool operator()(const std::string& a, const std::string& b) const;
  };
  std::map<std::string, std::string, Utf16Less> entries_;
};
