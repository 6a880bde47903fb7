// File-backed registry store: one file per root in <prefix>/registry, in the text format of
// "Windows Registry Editor Version 5.00" (UTF-8). Key names compare case-insensitively;
// values are REG_SZ or REG_DWORD. Every change re-reads the file under an advisory lock,
// applies itself and saves atomically, so concurrent processes never lose each other's values.
// A line the store cannot read (a malformed value, a type it does not know) is skipped with one
// ERROR log line per process and written back unchanged by the next save: nothing in a store file
// stops a start or gets lost. A store file that exists but cannot be opened or read to its end
// fails every call with kRegAccessDenied or kRegIoFailed (logged) and is never saved over.
// Results use the Windows status codes. Safe from any thread.
#pragma once

#include <cstdint>
#include <string>

// <windows.h> maps the system's calls of these names to their wide twins by macro; in a file that
// includes it first, the macros would rename the host layer's own functions. On Windows it is
// included here, so that a file including it later does not define them again.
#ifdef _WIN32
#include <windows.h>
#endif
#undef RegCreateKey
#undef RegOpenKey
#undef RegQueryValue
#undef RegDeleteKey

namespace os {

enum class RegRoot { CurrentUser, LocalMachine, ClassesRoot };

enum RegStatus : long {
  kRegSuccess = 0,
  kRegFileNotFound = 2,
  kRegAccessDenied = 5,
  kRegInvalidData = 13,
  kRegMoreData = 234,
  kRegIoFailed = 1016,  // ERROR_REGISTRY_IO_FAILED: the store could not be read
};

enum class RegType { None = 0, String = 1, Dword = 4 };

// File name of a root's store ("HKEY_CURRENT_USER.reg", ...).
const char* RegRootName(RegRoot root);

// Creates the key and missing parents (RegCreateKeyEx). kRegSuccess when it exists afterwards.
long RegCreateKey(RegRoot root, const std::string& key);

// kRegSuccess when the key exists, kRegFileNotFound otherwise (RegOpenKeyEx).
long RegOpenKey(RegRoot root, const std::string& key);

// Sets a value; the key must exist (kRegFileNotFound otherwise).
long RegSetString(RegRoot root, const std::string& key, const std::string& name, const std::string& value);
long RegSetDword(RegRoot root, const std::string& key, const std::string& name, uint32_t value);

// Reads a value of any type. type receives its type; data its raw bytes (for REG_SZ: the UTF-16LE
// text with its terminating zero, like RegQueryValueEx; for REG_DWORD: 4 little-endian bytes).
long RegQueryValue(RegRoot root, const std::string& key, const std::string& name, RegType& type, std::string& data);

// Convenience readers: REG_SZ as UTF-8 text; REG_DWORD as a number.
long RegQueryString(RegRoot root, const std::string& key, const std::string& name, std::string& value);
long RegQueryDword(RegRoot root, const std::string& key, const std::string& name, uint32_t& value);

// Deletes a key that has no subkeys (RegDeleteKey); kRegFileNotFound when absent,
// kRegAccessDenied when it has subkeys.
long RegDeleteKey(RegRoot root, const std::string& key);

}  // namespace os
