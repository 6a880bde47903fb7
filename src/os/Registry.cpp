#include "os/Registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <cerrno>
#include <mutex>
#include <vector>

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
};

struct Key {
  std::string path;  // as first created, without the root
  std::vector<Value> values;
};

using Store = std::vector<Key>;

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
  for (auto& k : store)
    if (Lower(k.path) == want) return &k;
  return nullptr;
}

Value* FindValue(Key& key, const std::string& name) {
  std::string want = Lower(name);
  for (auto& v : key.values)
    if (Lower(v.name) == want) return &v;
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

Store Parse(const std::string& text) {
  Store store;
  Key* current = nullptr;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line == kHeader) continue;
    if (line.front() == '[' && line.back() == ']') {
      std::string full = line.substr(1, line.size() - 2);
      size_t slash = full.find('\\');
      std::string path = slash == std::string::npos ? "" : CanonicalKey(full.substr(slash + 1));
      current = FindKey(store, path);
      if (!current) {
        store.push_back({path, {}});
        current = &store.back();
      }
      continue;
    }
    if (!current) continue;
    Value v;
    size_t i = 0;
    if (line[0] == '@') {
      i = 1;
    } else if (!ParseQuoted(line, i, v.name)) {
      continue;
    }
    if (i >= line.size() || line[i] != '=') continue;
    ++i;
    if (line.compare(i, 6, "dword:") == 0) {
      v.type = RegType::Dword;
      v.dword = static_cast<uint32_t>(std::stoul(line.substr(i + 6), nullptr, 16));
    } else if (!ParseQuoted(line, i, v.text)) {
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
  for (const auto& k : store) {
    out += "\n[" + std::string(RegRootName(root)) + (k.path.empty() ? "" : "\\" + k.path) + "]\n";
    for (const auto& v : k.values) {
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

Store Load(RegRoot root) {
  std::string text;
  if (!ReadFile(StorePath(root), text)) return {};
  return Parse(text);
}

long Save(RegRoot root, const Store& store) {
  return WriteFileAtomically(StorePath(root), Serialise(root, store)) == 0 ? kRegSuccess : kRegAccessDenied;
}

// Runs a change under the exclusive lock on a freshly loaded store; saves when it succeeded.
template <typename Fn>
long Modify(RegRoot root, Fn fn) {
  StoreLock lock(root, true);
  Store store = Load(root);
  long status = fn(store);
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
      if (!FindKey(store, part)) store.push_back({part, {}});
      if (slash == std::string::npos) break;
      pos = slash + 1;
    }
    return kRegSuccess;
  });
}

long RegOpenKey(RegRoot root, const std::string& key) {
  StoreLock lock(root, false);
  Store store = Load(root);
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
  Store store = Load(root);
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
    for (const auto& k : store)
      if (Lower(k.path).rfind(want + "\\", 0) == 0) return kRegAccessDenied;
    for (auto it = store.begin(); it != store.end(); ++it) {
      if (Lower(it->path) == want) {
        store.erase(it);
        return kRegSuccess;
      }
    }
    return kRegFileNotFound;
  });
}

}  // namespace os
