// The system registry through its own API. Status codes are the calls' own (the ones Registry.h
// names among them). Key paths are taken as written, "Wow6432Node" included: the system redirects
// a 32-bit launcher's HKEY_LOCAL_MACHINE\Software as it does for every 32-bit program. Any thread.
#include <windows.h>

#include <cstring>
#include <string>

#include "log/LauncherLog.h"
#include "os/Registry.h"
#include "os/base/Win32Text.h"

namespace os {
namespace {

HKEY RootKey(RegRoot root) {
  switch (root) {
    case RegRoot::LocalMachine: return HKEY_LOCAL_MACHINE;
    case RegRoot::ClassesRoot: return HKEY_CLASSES_ROOT;
    case RegRoot::CurrentUser: break;
  }
  return HKEY_CURRENT_USER;
}

// An open key, closed with its owner.
class Key {
 public:
  Key() = default;
  ~Key() {
    if (h_) RegCloseKey(h_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  long Open(RegRoot root, const std::string& path, REGSAM access) {
    return RegOpenKeyExW(RootKey(root), Wide(path).c_str(), 0, access, &h_);
  }
  HKEY Get() const { return h_; }

  static std::wstring Wide(const std::string& text) { return win32::Wide(text); }

 private:
  HKEY h_ = nullptr;
};

long SetValue(RegRoot root, const std::string& key, const std::string& name, DWORD type, const void* data, DWORD size) {
  Key k;
  if (const long status = k.Open(root, key, KEY_SET_VALUE); status != ERROR_SUCCESS) return status;
  return RegSetValueExW(k.Get(), win32::Wide(name).c_str(), 0, type, static_cast<const BYTE*>(data), size);
}

}  // namespace

const char* RegRootName(RegRoot root) {
  switch (root) {
    case RegRoot::LocalMachine: return "HKEY_LOCAL_MACHINE";
    case RegRoot::ClassesRoot: return "HKEY_CLASSES_ROOT";
    case RegRoot::CurrentUser: break;
  }
  return "HKEY_CURRENT_USER";
}

// Non-volatile, with full access, as the installation's keys are made.
long RegCreateKey(RegRoot root, const std::string& key) {
  HKEY h = nullptr;
  const long status = RegCreateKeyExW(RootKey(root), win32::Wide(key).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                      KEY_ALL_ACCESS, nullptr, &h, nullptr);
  if (status == ERROR_SUCCESS) RegCloseKey(h);
  return status;
}

long RegOpenKey(RegRoot root, const std::string& key) {
  Key k;
  return k.Open(root, key, KEY_QUERY_VALUE);
}

// Stored with the terminating zero, as every reader of REG_SZ expects it.
long RegSetString(RegRoot root, const std::string& key, const std::string& name, const std::string& value) {
  const std::wstring text = win32::Wide(value);
  return SetValue(root, key, name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

long RegSetDword(RegRoot root, const std::string& key, const std::string& name, uint32_t value) {
  const DWORD data = value;
  return SetValue(root, key, name, REG_DWORD, &data, sizeof data);
}

// The value's raw bytes and its type as stored; a type other than REG_SZ and REG_DWORD is handed on
// with its own number, for the callers that do not check it. A value that exists but cannot be
// read is logged and its status returned: the caller goes on without it.
long RegQueryValue(RegRoot root, const std::string& key, const std::string& name, RegType& type, std::string& data) {
  Key k;
  if (const long status = k.Open(root, key, KEY_QUERY_VALUE); status != ERROR_SUCCESS) return status;
  const std::wstring wideName = win32::Wide(name);
  long status = ERROR_SUCCESS;
  DWORD rawType = REG_NONE;
  // A value may grow between the two calls: ask again with the new size.
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD size = 0;
    status = RegQueryValueExW(k.Get(), wideName.c_str(), nullptr, &rawType, nullptr, &size);
    if (status != ERROR_SUCCESS) break;
    data.assign(size, '\0');
    status =
        RegQueryValueExW(k.Get(), wideName.c_str(), nullptr, &rawType, reinterpret_cast<BYTE*>(data.data()), &size);
    if (status == ERROR_SUCCESS) {
      data.resize(size);
      type = static_cast<RegType>(rawType);
      return ERROR_SUCCESS;
    }
    if (status != ERROR_MORE_DATA) break;
  }
  data.clear();
  if (status != ERROR_FILE_NOT_FOUND) {
    LogError("cannot read the value \"" + name + "\" of " + RegRootName(root) + "\\" + key + ", status " +
                 std::to_string(status),
             "Registry::QueryValue", "Registry", __LINE__);
  }
  return status;
}

long RegQueryString(RegRoot root, const std::string& key, const std::string& name, std::string& value) {
  RegType type;
  std::string data;
  const long status = RegQueryValue(root, key, name, type, data);
  if (status != kRegSuccess) return status;
  if (type != RegType::String) return kRegInvalidData;
  std::wstring text(data.size() / sizeof(wchar_t), L'\0');
  if (!text.empty()) std::memcpy(text.data(), data.data(), text.size() * sizeof(wchar_t));
  // Up to the first zero: a value stored without its terminator ends with its data.
  const size_t end = text.find(L'\0');
  if (end != std::wstring::npos) text.resize(end);
  value = win32::Narrow(text);
  return kRegSuccess;
}

long RegQueryDword(RegRoot root, const std::string& key, const std::string& name, uint32_t& value) {
  RegType type;
  std::string data;
  const long status = RegQueryValue(root, key, name, type, data);
  if (status != kRegSuccess) return status;
  if (type != RegType::Dword || data.size() != 4) return kRegInvalidData;
  value = 0;
  for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(static_cast<unsigned char>(data[i])) << (8 * i);
  return kRegSuccess;
}

// RegDeleteKeyW refuses a key with subkeys (ERROR_ACCESS_DENIED), as Registry.h says.
// A root itself is never deleted.
long RegDeleteKey(RegRoot root, const std::string& key) {
  if (key.find_first_not_of('\\') == std::string::npos) return kRegAccessDenied;
  return RegDeleteKeyW(RootKey(root), win32::Wide(key).c_str());
}

}  // namespace os
