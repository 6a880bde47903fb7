// Wine's registry file of a prefix's current user (<prefix>/user.reg): what a Windows program
// run through Wine finds under HKEY_CURRENT_USER. A Wine server loads the file when it starts and
// writes it back (whole, replacing it) when it ends, so the file may be edited only while no Wine
// server runs for the prefix (os::IsWineServerRunning); a running server would overwrite the edit.
//
// The text: "WINE REGISTRY Version 2", then one section per key, "[<key>] <time>", its option
// lines ("#...") and value lines "\"<name>\"=<data>" ("@=" for the default value). Key names are
// relative to HKEY_CURRENT_USER and compare case-insensitively. Names and strings escape '\' and
// '"', write control characters as C escapes and other characters as \x<UTF-16 unit in hex>.
// Data: dword:<8 hex digits>, "<string>", str(<type>):"<string>", hex:<bytes> or
// hex(<type>):<bytes>, the bytes continuing on the next line after a trailing backslash.
//
// A plain value: any thread, one at a time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace os {

class WineRegistryFile {
 public:
  explicit WineRegistryFile(const std::string& text = std::string());

  // <prefix>/user.reg
  static std::string UserFilePath(const std::string& prefix);
  // The file's text; an empty file (no keys) when it does not exist, when it is no regular file,
  // or when it cannot be opened or read to its end (then LoadError() says why).
  static WineRegistryFile Load(const std::string& path);
  // The errno of a Load that could not read the file in full; 0 otherwise.
  int LoadError() const { return loadError_; }
  // Replaces the file atomically. Returns 0 or the errno. A file loaded with an error is never
  // saved (its text lacks what could not be read): the load's errno, logged.
  int Save(const std::string& path) const;

  // key: "SOFTWARE\\maker\\product", relative to HKEY_CURRENT_USER.
  bool HasKey(const std::string& key) const;
  // The value's data as the Windows call returns it: a REG_DWORD as 4 bytes little-endian, a
  // string as UTF-16LE with its terminator, hex data as its bytes. Nothing when the key or the
  // value is missing or its data cannot be read.
  std::optional<std::string> ValueData(const std::string& key, const std::string& name) const;
  // Stores a REG_DWORD under name in an existing key, replacing a value of that name whatever its
  // type. False (nothing changed) when the key does not exist.
  bool SetDword(const std::string& key, const std::string& name, uint32_t value);

  std::string Text() const;

 private:
  // Index of the key's section header line; npos when the key has no section.
  size_t FindSection(const std::string& key) const;
  // The value lines [first, last) of name in the section starting at header; first == npos when
  // the section holds no such value.
  void FindValue(size_t header, const std::string& name, size_t& first, size_t& last) const;
  size_t SectionEnd(size_t header) const;

  std::vector<std::string> lines_;
  bool finalNewline_ = true;
  int loadError_ = 0;
};

}  // namespace os
