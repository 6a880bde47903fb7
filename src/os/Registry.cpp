#include "os/Registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <set>
#include <vector>

#include "log/LauncherLog.h"
#include "os/CodePage.h"
#include "os/FileSystem.h"
#include "os/Prefix.h"

namespace os {

namespace {

constexpr char kHeader[] = "Windows Registry Editor Version 5.00";

struct Value {
  std::string name;  // "" is the default value ("@")
  RegType type = RegType::String;
  std::string text;  // REG_SZ
  uint32_t dword = 0;
  std::string raw;  // not empty: a line kept as read (unreadable, or a comment), never a value
};

struct Key {
  std::string path;  // as first created, without the root
  std::vector<Value> values;
};

struct Store {
  std::vector<std::string> preamble;  // lines before the first key, kept as they were read
  std::vector<Key> keys;
};

std::string Lower(const std::string& s) {
  std::string out = s;
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// Key paths compare case-insensitively and ignore leading, trailing and doubled backslashes.
std::string CanonicalKey(const std::string& key) {
  std::string out;
  for (char c : key) {
    if (c == '\\' && (out.empty() || out.back() == '\\')) continue;
    out += c;
  }
  while (!out.empty() && out.back() == '\\') out.pop_back();
  return out;
}

Key* FindKey(Store& store, const std::string& key) {
  std::string want = Lower(CanonicalKey(key));
  for (auto& k : store.keys)
    if (Lower(k.path) == want) return &k;
  return nullptr;
}

Value* FindValue(Key& key, const std::string& name) {
  std::string want = Lower(name);
  for (auto& v : key.values)
    if (v.raw.empty() && Lower(v.name) == want) return &v;
  return nullptr;
}

std::string Escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out += c;
  }
  return out;
}

// Parses a quoted string starting at s[i] == '"'; advances i past the closing quote.
bool ParseQuoted(const std::string& s, size_t& i, std::string& out) {
  if (i >= s.size() || s[i] != '"') return false;
  out.clear();
  for (++i; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      ++i;
      out += s[i] == 'n' ? '\n' : s[i];
    } else if (s[i] == '"') {
      ++i;
      return true;
    } else {
      out += s[i];
    }
  }
  return false;
}

// "dword:" is followed by one to eight hexadecimal digits and nothing else.
bool ParseDword(const std::string& digits, uint32_t& out) {
  if (digits.empty() || digits.size() > 8) return false;
  out = 0;
  for (char c : digits) {
    int d;
    if (c >= '0' && c <= '9') {
      d = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      d = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      d = c - 'A' + 10;
    } else {
      return false;
    }
    out = (out << 4) | static_cast<uint32_t>(d);
  }
  return true;
}

// One value line ("name"=... or @=...): false when it is not a REG_SZ or REG_DWORD value this
// store can read back.
bool ParseValue(const std::string& line, Value& v) {
  size_t i = 0;
  if (line[0] == '@') {
    i = 1;
  } else if (!ParseQuoted(line, i, v.name)) {
    return false;
  }
  if (i >= line.size() || line[i] != '=') return false;
  ++i;
  if (line.compare(i, 6, "dword:") == 0) {
    v.type = RegType::Dword;
    return ParseDword(line.substr(i + 6), v.dword);
  }
  return ParseQuoted(line, i, v.text) && i == line.size();
}

// An unreadable line is reported once per process (the store is read again for every call), with
// the file it is in; the line itself is kept and written back unchanged.
void ReportUnreadable(const std::string& storeName, size_t lineNumber, const std::string& line) {
  static std::set<std::string> reported;  // under the store lock's process mutex
  if (!reported.insert(storeName + "\n" + line).second) return;
  std::string shown = line.size() > 200 ? line.substr(0, 200) + "..." : line;
  LogError("unreadable line kept as it is: " + storeName + ":" + std::to_string(lineNumber) + ": " + shown,
           "Registry::Load", "Registry", __LINE__);
}

Store Parse(const std::string& text, const std::string& storeName) {
  Store store;
  Key* current = nullptr;
  size_t pos = 0;
  size_t lineNumber = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line == kHeader) continue;
    if (line.front() == '[' && line.back() == ']') {
      std::string full = line.substr(1, line.size() - 2);
      size_t slash = full.find('\\');
      std::string path = slash == std::string::npos ? "" : CanonicalKey(full.substr(slash + 1));
      current = FindKey(store, path);
      if (!current) {
        store.keys.push_back({path, {}});
        current = &store.keys.back();
      }
      continue;
    }
    Value v;
    const bool comment = line.front() == ';';
    if (comment || !current || !ParseValue(line, v)) {
      // Kept in its place: a later save writes it back exactly as it was.
      if (!comment) ReportUnreadable(storeName, lineNumber, line);
      if (current) {
        Value keep;
        keep.raw = line;
        current->values.push_back(keep);
      } else {
        store.preamble.push_back(line);
      }
      continue;
    }
    if (Value* old = FindValue(*current, v.name))
      *old = v;
    else
      current->values.push_back(v);
  }
  return store;
}

std::string Serialise(RegRoot root, const Store& store) {
  std::string out = std::string(kHeader) + "\n";
  for (const auto& line : store.preamble) out += line + "\n";
  for (const auto& k : store.keys) {
    out += "\n[" + std::string(RegRootName(root)) + (k.path.empty() ? "" : "\\" + k.path) + "]\n";
    for (const auto& v : k.values) {
      if (!v.raw.empty()) {
        out += v.raw + "\n";
        continue;
      }
      out += v.name.empty() ? "@" : "\"" + Escape(v.name) + "\"";
      if (v.type == RegType::Dword) {
        char buf[16];
        snprintf(buf, sizeof buf, "%08x", v.dword);
        out += std::string("=dword:") + buf + "\n";
      } else {
        out += "=\"" + Escape(v.text) + "\"\n";
      }
    }
  }
  return out;
}

std::string StorePath(RegRoot root) { return JoinPath(RegistryDir(), std::string(RegRootName(root)) + ".reg"); }

// Serialises access: a process-wide mutex for threads, an flock on "<store>.lock" for processes.
class StoreLock {
 public:
  StoreLock(RegRoot root, bool exclusive) : guard_(Mutex()) {
    MakeDirectories(RegistryDir());
    fd_ = ::open((StorePath(root) + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ >= 0) {
      while (::flock(fd_, exclusive ? LOCK_EX : LOCK_SH) != 0 && errno == EINTR) {
      }
    }
  }
  ~StoreLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  StoreLock(const StoreLock&) = delete;
  StoreLock& operator=(const StoreLock&) = delete;

 private:
  static std::mutex& Mutex() {
    static std::mutex m;
    return m;
  }
  std::lock_guard<std::mutex> guard_;
  int fd_ = -1;
};

// The status of a store that could not be read in full, as the Windows calls report one.
long ReadFailureStatus(int error) { return error == EACCES || error == EPERM ? kRegAccessDenied : kRegIoFailed; }

// Reads the store into store. A missing file is an empty store. Only a regular file is read:
// anything else at the store's path (a pipe, a device, a directory) would block or never end; it
// reads as an empty store and the next save replaces it if it can. A file that exists but cannot
// be opened or read to its end is a failure: an empty or partial store saved back would drop
// every value it did not read, so no change goes ahead on it.
long Load(RegRoot root, Store& store) {
  store = Store();
  const std::string path = StorePath(root);
  std::string text;
  int error = 0;
  switch (ReadRegularFile(path, text, &error)) {
    case ReadOutcome::Missing: return kRegSuccess;
    case ReadOutcome::NotRegular:
      LogError("not a regular file: " + path, "Registry::Load", "Registry", __LINE__);
      return kRegSuccess;
    case ReadOutcome::Failed:
      LogError("cannot read " + path + ": " + std::strerror(error), "Registry::Load", "Registry", __LINE__);
      return ReadFailureStatus(error);
    case ReadOutcome::Read: break;
  }
  store = Parse(text, BaseName(path));
  return kRegSuccess;
}

long Save(RegRoot root, const Store& store) {
  return WriteFileAtomically(StorePath(root), Serialise(root, store)) == 0 ? kRegSuccess : kRegAccessDenied;
}

// Runs a change under the exclusive lock on a freshly loaded store; saves when it succeeded.
template <typename Fn>
long Modify(RegRoot root, Fn fn) {
  StoreLock lock(root, true);
  Store store;
  long status = Load(root, store);
  if (status != kRegSuccess) return status;
  status = fn(store);
  if (status != kRegSuccess) return status;
  return Save(root, store);
}

long SetValue(RegRoot root, const std::string& key, const Value& value) {
  return Modify(root, [&](Store& store) -> long {
    Key* k = FindKey(store, key);
    if (!k) return kRegFileNotFound;
    if (Value* old = FindValue(*k, value.name))
      *old = value;
    else
      k->values.push_back(value);
    return kRegSuccess;
  });
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

long RegCreateKey(RegRoot root, const std::string& key) {
  std::string path = CanonicalKey(key);
  if (path.empty()) return kRegSuccess;
  // Like the Windows call, a present key is opened without writing anything.
  if (RegOpenKey(root, key) == kRegSuccess) return kRegSuccess;
  return Modify(root, [&](Store& store) -> long {
    size_t pos = 0;
    for (;;) {
      size_t slash = path.find('\\', pos);
      std::string part = path.substr(0, slash);
      if (!FindKey(store, part)) store.keys.push_back({part, {}});
      if (slash == std::string::npos) break;
      pos = slash + 1;
    }
    return kRegSuccess;
  });
}

long RegOpenKey(RegRoot root, const std::string& key) {
  StoreLock lock(root, false);
  Store store;
  if (const long status = Load(root, store); status != kRegSuccess) return status;
  return CanonicalKey(key).empty() || FindKey(store, key) ? kRegSuccess : kRegFileNotFound;
}

long RegSetString(RegRoot root, const std::string& key, const std::string& name, const std::string& value) {
  Value v;
  v.name = name;
  v.type = RegType::String;
  v.text = value;
  return SetValue(root, key, v);
}

long RegSetDword(RegRoot root, const std::string& key, const std::string& name, uint32_t value) {
  Value v;
  v.name = name;
  v.type = RegType::Dword;
  v.dword = value;
  return SetValue(root, key, v);
}

long RegQueryValue(RegRoot root, const std::string& key, const std::string& name, RegType& type, std::string& data) {
  StoreLock lock(root, false);
  Store store;
  if (const long status = Load(root, store); status != kRegSuccess) return status;
  Key* k = FindKey(store, key);
  if (!k) return kRegFileNotFound;
  Value* v = FindValue(*k, name);
  if (!v) return kRegFileNotFound;
  type = v->type;
  data.clear();
  if (v->type == RegType::Dword) {
    for (int i = 0; i < 4; ++i) data += static_cast<char>((v->dword >> (8 * i)) & 0xFF);
  } else {
    std::u16string u = Utf8ToUtf16(v->text);
    u += u'\0';
    for (char16_t c : u) {
      data += static_cast<char>(c & 0xFF);
      data += static_cast<char>(c >> 8);
    }
  }
  return kRegSuccess;
}

long RegQueryString(RegRoot root, const std::string& key, const std::string& name, std::string& value) {
  RegType type;
  std::string data;
  long status = RegQueryValue(root, key, name, type, data);
  if (status != kRegSuccess) return status;
  if (type != RegType::String) return kRegInvalidData;
  std::u16string u;
  for (size_t i = 0; i + 1 < data.size(); i += 2)
    u += static_cast<char16_t>(static_cast<unsigned char>(data[i]) | (static_cast<unsigned char>(data[i + 1]) << 8));
  while (!u.empty() && u.back() == u'\0') u.pop_back();
  value = Utf16ToUtf8(u);
  return kRegSuccess;
}

long RegQueryDword(RegRoot root, const std::string& key, const std::string& name, uint32_t& value) {
  RegType type;
  std::string data;
  long status = RegQueryValue(root, key, name, type, data);
  if (status != kRegSuccess) return status;
  if (type != RegType::Dword || data.size() != 4) return kRegInvalidData;
  value = 0;
  for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(static_cast<unsigned char>(data[i])) << (8 * i);
  return kRegSuccess;
}

long RegDeleteKey(RegRoot root, const std::string& key) {
  std::string path = CanonicalKey(key);
  if (path.empty()) return kRegAccessDenied;
  return Modify(root, [&](Store& store) -> long {
    std::string want = Lower(path);
    for (const auto& k : store.keys)
      if (Lower(k.path).rfind(want + "\\", 0) == 0) return kRegAccessDenied;
    for (auto it = store.keys.begin(); it != store.keys.end(); ++it) {
      if (Lower(it->path) == want) {
        store.keys.erase(it);
        return kRegSuccess;
      }
    }
    return kRegFileNotFound;
  });
}

}  // namespace os
