// The demo game's Windows build (cross-compiled with mingw-w64, run through Wine by the launcher).
// Records how it was started (the command line as GetCommandLineW gives it, its arguments, the
// working directory, the four window-size preferences it reads from the registry, the
// environment) to a file, then shows a small window until it is closed. Single-threaded.
//
// VELLMORA_DEMO_GAME_RECORD      where the record goes (default: <cwd>\game-record.txt); a Unix
//                                path is turned into a DOS path by Wine
// VELLMORA_DEMO_GAME_EXIT_AFTER  seconds until the game closes by itself; 0 = exit right after
//                                recording
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "Identity.h"

namespace {

// Wine's own path conversions (kernel32 exports under Wine; absent on Windows). Both return
// memory from the process heap.
using ToUnixPath = char*(CDECL*)(const WCHAR*);
using ToDosPath = WCHAR*(CDECL*)(const char*);

template <typename Function>
Function WineExport(const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32"), name)));
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
  return out;
}

std::wstring Wide(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
  return out;
}

// One record value per line: backslash, CR and LF are escaped so every value stays on its line.
std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  return out;
}

std::wstring Environment(const wchar_t* name) {
  const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return std::wstring();
  std::wstring value(size, L'\0');
  value.resize(GetEnvironmentVariableW(name, value.data(), size));
  return value;
}

std::wstring CurrentDirectory() {
  const DWORD size = GetCurrentDirectoryW(0, nullptr);
  std::wstring dir(size, L'\0');
  dir.resize(GetCurrentDirectoryW(size, dir.data()));
  return dir;
}

std::string UnixPath(const std::wstring& dosPath) {
  const auto convert = WineExport<ToUnixPath>("wine_get_unix_file_name");
  if (!convert) return std::string();
  char* path = convert(dosPath.c_str());
  if (!path) return std::string();
  std::string out = path;
  HeapFree(GetProcessHeap(), 0, path);
  return out;
}

// The record's path: a Unix path (as the launcher's environment gives it) through Wine's drives.
std::wstring RecordPath(const std::wstring& cwd) {
  const std::wstring configured = Environment(L"VELLMORA_DEMO_GAME_RECORD");
  if (configured.empty()) return cwd + L"\\game-record.txt";
  if (configured[0] == L'/') {
    if (const auto convert = WineExport<ToDosPath>("wine_get_dos_file_name")) {
      if (WCHAR* dos = convert(Utf8(configured).c_str())) {
        std::wstring out = dos;
        HeapFree(GetProcessHeap(), 0, dos);
        return out;
      }
    }
  }
  return configured;
}

// A window-size preference as the game reads it: a 4-byte value, or "missing".
std::string Preference(HKEY key, const wchar_t* name) {
  DWORD value = 0, size = sizeof value;
  if (!key || RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS)
    return "missing";
  return std::to_string(value);
}

// Written to a temporary file and renamed, so a reader never sees half a record.
bool WriteRecord(const std::wstring& path, const std::string& record) {
  const std::wstring temp = path + L".tmp";
  HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr) &&
            written == record.size() && FlushFileBuffers(file);
  ok = CloseHandle(file) && ok;
  return ok && MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

std::string BuildRecord(const std::wstring& cwd, std::string& loginParameters) {
  std::string record;
  const wchar_t* commandLine = GetCommandLineW();
  record += "command_line=" + Escape(Utf8(commandLine)) + "\n";
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(commandLine, &argc);
  record += "argc=" + std::to_string(argc) + "\n";
  for (int i = 0; argv && i < argc; ++i) {
    const std::string arg = Utf8(argv[i]);
    record += "argv[" + std::to_string(i) + "]=" + Escape(arg) + "\n";
    if (arg.rfind("--parameters=", 0) == 0) loginParameters = arg.substr(13);
  }
  LocalFree(argv);
  record += "cwd=" + Escape(Utf8(cwd)) + "\n";
  record += "unix_cwd=" + Escape(UnixPath(cwd)) + "\n";
  record += "pid=" + std::to_string(GetCurrentProcessId()) + "\n";

  const std::wstring keyPath = L"SOFTWARE\\qrd\\" + Wide(identity::ProductName);
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, keyPath.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) key = nullptr;
  for (const wchar_t* name :
       {L"Screenmanager Resolution Width_h182942802", L"Screenmanager Resolution Height_h2627697771",
        L"Screenmanager Resolution Width Default_h680557497", L"Screenmanager Resolution Height Default_h1380706816"})
    record += "registry." + Utf8(name) + "=" + Preference(key, name) + "\n";
  if (key) RegCloseKey(key);

  if (wchar_t* block = GetEnvironmentStringsW()) {
    for (const wchar_t* entry = block; *entry; entry += wcslen(entry) + 1)
      record += "env=" + Escape(Utf8(entry)) + "\n";
    FreeEnvironmentStringsW(block);
  }
  return record;
}

struct WindowText {
  std::wstring title;
  std::wstring lines;
};

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      const auto* text = reinterpret_cast<const WindowText*>(GetWindowLongPtrW(window, GWLP_USERDATA));
      RECT area;
      GetClientRect(window, &area);
      FillRect(dc, &area, reinterpret_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, RGB(0xe0, 0xb5, 0x52));
      RECT box = {32, 40, area.right - 32, area.bottom - 24};
      if (text) {
        DrawTextW(dc, text->title.c_str(), -1, &box, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
        box.top += 48;
        SetTextColor(dc, RGB(0xc9, 0xd2, 0xf0));
        DrawTextW(dc, text->lines.c_str(), -1, &box, DT_LEFT | DT_TOP | DT_WORDBREAK | DT_NOPREFIX);
      }
      EndPaint(window, &paint);
      return 0;
    }
    case WM_TIMER: DestroyWindow(window); return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

int ShowWindowUntilClosed(HINSTANCE instance, const std::string& loginParameters, double exitAfter) {
  WindowText text{Wide(identity::ProductName) + L" (Windows)", L"The demo game is running.\nLogged in with: " +
                                                                   Wide(loginParameters) +
                                                                   L"\nClose this window to return to the launcher."};
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  windowClass.lpszClassName = L"VellmoraDemoGame";
  if (!RegisterClassW(&windowClass)) return 0;
  HWND window = CreateWindowExW(0, windowClass.lpszClassName, Wide(identity::ProductName).c_str(), WS_OVERLAPPEDWINDOW,
                                CW_USEDEFAULT, CW_USEDEFAULT, 480, 270, nullptr, nullptr, instance, nullptr);
  if (!window) return 0;
  SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&text));
  if (exitAfter > 0) SetTimer(window, 1, static_cast<UINT>(exitAfter * 1000), nullptr);
  ShowWindow(window, SW_SHOW);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  const std::wstring cwd = CurrentDirectory();
  std::string loginParameters;
  const std::string record = BuildRecord(cwd, loginParameters);
  if (!WriteRecord(RecordPath(cwd), record))
    std::fprintf(stderr, "%s: cannot write the start record\n", identity::GameShortName);

  const std::string exitAfterText = Utf8(Environment(L"VELLMORA_DEMO_GAME_EXIT_AFTER"));
  const double exitAfter = exitAfterText.empty() ? -1 : std::atof(exitAfterText.c_str());  // -1: until closed
  if (exitAfter == 0) return 0;
  return ShowWindowUntilClosed(instance, loginParameters, exitAfter);
}
