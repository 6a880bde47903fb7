#include <windows.h>
// After windows.h, which they need.
#include <shlobj.h>

#include <objbase.h>
#include <objidl.h>
#include <shobjidl.h>

#include <cerrno>
#include <cwchar>

#include "os/ShellFolders.h"
#include "os/base/ComRef.h"
#include "os/base/Win32Text.h"

namespace os {
namespace {

// A folder of the user's profile; empty when the shell does not know it.
std::string SpecialFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  if (!SHGetSpecialFolderPathW(nullptr, path, csidl, FALSE)) return {};
  return win32::Narrow(path, std::wcslen(path));
}

// COM for the calling thread while the object lives; a thread that already has it keeps its own.
class ComApartment {
 public:
  ComApartment() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComApartment() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  // RPC_E_CHANGED_MODE: the thread is in the multithreaded apartment, where the link object works too.
  bool Usable() const { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }

 private:
  HRESULT result_;
};

// The errno of a failed step: the system's error when the HRESULT carries one.
int ErrnoOfResult(HRESULT hr) {
  if (HRESULT_FACILITY(hr) == FACILITY_WIN32) return win32::ErrnoOf(HRESULT_CODE(hr));
  return hr == E_OUTOFMEMORY ? ENOMEM : EIO;
}

}  // namespace

std::string StartMenuDir() { return SpecialFolder(CSIDL_STARTMENU); }
std::string DesktopDir() { return SpecialFolder(CSIDL_DESKTOPDIRECTORY); }
const char* LinkExtension() { return ".lnk"; }

// A shell link (.lnk) with only a target and its arguments, saved through IPersistFile with the
// link path remembered. Any thread: COM is set up for the call when the thread has none.
int CreateLinkFile(const std::string& target, const std::string& linkPath, const std::string& arguments) {
  ComApartment com;
  if (!com.Usable()) return EIO;
  win32::ComRef<IShellLinkW> link;
  HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.OutVoid());
  if (FAILED(hr)) return ErrnoOfResult(hr);
  if (FAILED(hr = link->SetPath(win32::Wide(target).c_str()))) return ErrnoOfResult(hr);
  if (FAILED(hr = link->SetArguments(win32::Wide(arguments).c_str()))) return ErrnoOfResult(hr);
  win32::ComRef<IPersistFile> file;
  if (FAILED(hr = link->QueryInterface(IID_IPersistFile, file.OutVoid()))) return ErrnoOfResult(hr);
  if (FAILED(hr = file->Save(win32::Wide(linkPath).c_str(), TRUE))) return ErrnoOfResult(hr);
  return 0;
}

}  // namespace os
