#include <windows.h>
// After windows.h, which they need.
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "os/Process.h"
#include "os/base/Win32Text.h"

namespace os {
namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// The handles of the processes this process started, kept until they are waited for: a process id
// alone may name another process once the first has ended, a held handle keeps the id taken.
class StartedProcesses {
 public:
  void Add(DWORD pid, HANDLE process) {
    std::lock_guard<std::mutex> hold(lock_);
    handles_[pid] = process;
  }
  // The handle of a started process, handed over to the caller; null when it is not one of ours.
  HANDLE Take(DWORD pid) {
    std::lock_guard<std::mutex> hold(lock_);
    const auto it = handles_.find(pid);
    if (it == handles_.end()) return nullptr;
    HANDLE h = it->second;
    handles_.erase(it);
    return h;
  }

 private:
  std::mutex lock_;
  std::map<DWORD, HANDLE> handles_;
};

StartedProcesses& Started() {
  static StartedProcesses started;
  return started;
}

// The full path of a file as the system spells it, for comparing paths ("C:/a/../b.exe" and
// "c:\b.exe" are the same file).
std::wstring FullPath(const std::wstring& path) {
  const DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (n == 0) return path;
  std::wstring out(n, L'\0');
  const DWORD written = GetFullPathNameW(path.c_str(), n, out.data(), nullptr);
  if (written == 0 || written >= n) return path;
  out.resize(written);
  return out;
}

bool SameText(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

// The executable path of a running process; empty when it cannot be asked (another user's, gone).
std::wstring ImagePath(DWORD pid) {
  win32::Handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process.IsValid()) return {};
  std::wstring path(32768, L'\0');
  DWORD size = static_cast<DWORD>(path.size());
  if (!QueryFullProcessImageNameW(process.Get(), 0, path.data(), &size)) return {};
  path.resize(size);
  return path;
}

// A started process's id with its handle kept; the thread's handle is not needed.
ProcessId Keep(const PROCESS_INFORMATION& info) {
  CloseHandle(info.hThread);
  Started().Add(info.dwProcessId, info.hProcess);
  return static_cast<ProcessId>(info.dwProcessId);
}

// An environment block for CreateProcessW: "NAME=value" entries each ending in a zero, then one
// more zero, in the order of names that Windows keeps (case-insensitive).
std::wstring EnvironmentBlock(const std::vector<std::string>& env) {
  std::vector<std::wstring> entries;
  for (const std::string& e : env)
    if (!e.empty()) entries.push_back(win32::Wide(e));
  std::stable_sort(entries.begin(), entries.end(), [](const std::wstring& a, const std::wstring& b) {
    const std::wstring nameA = a.substr(0, a.find(L'=', 1)), nameB = b.substr(0, b.find(L'=', 1));
    return CompareStringOrdinal(nameA.data(), static_cast<int>(nameA.size()), nameB.data(),
                                static_cast<int>(nameB.size()), TRUE) == CSTR_LESS_THAN;
  });
  std::wstring block;
  for (const std::wstring& e : entries) {
    block += e;
    block += L'\0';
  }
  block += L'\0';
  if (entries.empty()) block += L'\0';
  return block;
}

// Starts a process with no handle of the launcher inherited. flags: CreateProcessW's.
ProcessId Start(const std::wstring& application, std::wstring commandLine, const std::string& cwd, DWORD flags,
                const std::vector<std::string>* env, int* error) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  std::wstring block;
  if (env) {
    block = EnvironmentBlock(*env);
    flags |= CREATE_UNICODE_ENVIRONMENT;
  }
  const std::wstring dir = win32::Wide(cwd);
  if (!CreateProcessW(application.empty() ? nullptr : application.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                      flags, env ? block.data() : nullptr, dir.empty() ? nullptr : dir.c_str(), &startup, &info)) {
    if (error) *error = win32::LastErrno();
    return -1;
  }
  if (error) *error = 0;
  return Keep(info);
}

}  // namespace

// The command line is the system's own (GetCommandLineW), read whenever it is asked for: argv,
// converted by the C runtime through the ANSI code page, would lose what that cannot spell.
void SetArguments(int, char**) {}

// The launcher's own module path; long paths grow the buffer until they fit.
std::string ExecutablePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) return win32::Narrow(path.data(), n);
    if (path.size() >= 32768) return {};
    path.resize(path.size() * 2);
  }
}

// The directory of the executable with its trailing separator ("C:\games\"), as the launcher
// directory is joined with a folder name.
std::string ExecutableDir() {
  const std::string path = ExecutablePath();
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string ApplicationName() {
  std::string name = ExecutablePath();
  const size_t slash = name.find_last_of("\\/");
  if (slash != std::string::npos) name = name.substr(slash + 1);
  if (name.size() > 4) {
    std::string suffix = name.substr(name.size() - 4);
    for (char& c : suffix) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (suffix == ".exe") name.resize(name.size() - 4);
  }
  return name;
}

const char* ExecutableSuffix() { return ".exe"; }

// Everything after the program token, as the system reports it, without the blanks between: the
// program token ends at its closing quote, or at the first blank when it is not quoted.
std::string ArgumentString() {
  const wchar_t* line = GetCommandLineW();
  if (!line) return {};
  const wchar_t* p = line;
  if (*p == L'"') {
    ++p;
    while (*p && *p != L'"') ++p;
    if (*p) ++p;
  } else {
    while (*p && !IsBlank(*p)) ++p;
  }
  while (IsBlank(*p)) ++p;
  return win32::Narrow(std::wstring(p));
}

// The whole command line exactly as the system reports it (the game receives it unchanged).
std::string FullCommandLine() {
  const wchar_t* line = GetCommandLineW();
  return line ? win32::Narrow(std::wstring(line)) : std::string();
}

// The process snapshot gives each process's file name only; those whose name matches are asked
// for their full image path, which must name the same file.
bool IsExecutableRunning(const std::string& executablePath, bool* error) {
  if (error) *error = false;
  const std::wstring target = FullPath(win32::Wide(executablePath));
  const size_t slash = target.find_last_of(L"\\/");
  const std::wstring name = slash == std::wstring::npos ? target : target.substr(slash + 1);
  win32::Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.IsValid()) {
    if (error) *error = true;
    return false;
  }
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more; more = Process32NextW(snapshot.Get(), &entry)) {
    if (!SameText(entry.szExeFile, name)) continue;
    const std::wstring image = ImagePath(entry.th32ProcessID);
    if (!image.empty() && SameText(FullPath(image), target)) return true;
  }
  return false;
}

// The game gets a console of its own (CREATE_NEW_CONSOLE) and none of the launcher's handles.
ProcessId SpawnProcess(const std::string& executable, const std::string& commandLine, const std::string& cwd,
                       int* error) {
  return Start(win32::Wide(executable), win32::Wide(commandLine), cwd, CREATE_NEW_CONSOLE, nullptr, error);
}

// argv becomes a command line by the rules SplitCommandLine reads: the program token quoted whole
// when it holds a blank, the others through QuoteArgument. A quiet program gets a console without
// a window, so whatever it writes is seen by nobody.
ProcessId SpawnProgram(const std::string& program, const std::vector<std::string>& argv, const std::string& cwd,
                       const std::vector<std::string>* env, bool quiet, int* error) {
  std::string line;
  for (size_t i = 0; i < argv.size(); ++i) {
    if (i == 0) {
      line = argv[0].find_first_of(" \t") != std::string::npos || argv[0].empty() ? "\"" + argv[0] + "\"" : argv[0];
    } else {
      line += " " + QuoteArgument(argv[i]);
    }
  }
  return Start(win32::Wide(program), win32::Wide(line), cwd, quiet ? CREATE_NO_WINDOW : 0, env, error);
}

std::vector<std::string> CurrentEnvironment() {
  std::vector<std::string> out;
  wchar_t* block = GetEnvironmentStringsW();
  if (!block) return out;
  for (const wchar_t* e = block; *e; e += std::wcslen(e) + 1) out.push_back(win32::Narrow(std::wstring(e)));
  FreeEnvironmentStringsW(block);
  return out;
}

// A process this one started is waited for through the handle kept since its start; any other
// through a handle opened now.
int WaitProcess(ProcessId pid) {
  if (pid <= 0) return -1;
  HANDLE kept = Started().Take(static_cast<DWORD>(pid));
  win32::Handle process(
      kept ? kept : OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid)));
  if (!process.IsValid()) return -1;
  if (WaitForSingleObject(process.Get(), INFINITE) != WAIT_OBJECT_0) return -1;
  DWORD code = 0;
  if (!GetExitCodeProcess(process.Get(), &code)) return -1;
  return static_cast<int>(code);
}

void EndProcessNow(int code) {
  // Only the standard streams: another thread may hold the lock of any other stream.
  std::fflush(stdout);
  std::fflush(stderr);
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
  // TerminateProcess of the own process does not return; should it fail, the runtime's exit does.
  _exit(code);
}

}  // namespace os
