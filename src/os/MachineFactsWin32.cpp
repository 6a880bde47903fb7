// Windows: RtlGetVersion, the registry's processor name, the adapter list, the memory status, the
// management service's (WMI) serials, and the WOW64 question. MachineSources' sample files belong
// to the Linux side: here the live system is read every time.
#include <winsock2.h>
// After winsock2.h, which must come first.
#include <windows.h>
// After windows.h, which they need.
#include <iphlpapi.h>
#include <urlmon.h>
#include <wbemidl.h>

#include <cstring>
#include <cwchar>

#include "os/MachineFacts.h"
#include "os/base/ComRef.h"
#include "os/base/Win32Text.h"

namespace os {
namespace {

using win32::ComRef;

struct BstrText {
  BSTR text;
  explicit BstrText(const wchar_t* t) : text(SysAllocString(t)) {}
  ~BstrText() { SysFreeString(text); }
};

bool Is64BitWindows() {
  if (sizeof(void*) == 8) return true;
  BOOL wow64 = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

void ReadVersion(MachineFacts& facts) {
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  if (!ntdll) return;
  auto get = reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
  if (!get) return;
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
  if (get(&info) != 0) return;
  facts.versionMajor = static_cast<int>(info.dwMajorVersion);
  facts.versionMinor = static_cast<int>(info.dwMinorVersion);
  facts.versionBuild = static_cast<int>(info.dwBuildNumber);
}

// The first processor's "ProcessorNameString" as stored: text of up to 256 UTF-16 units with its
// terminator inside the data; anything else leaves the name empty. Read access only: reading
// needs no more, and an unelevated run is not refused.
std::string CpuName() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0", 0, KEY_QUERY_VALUE,
                    &key) != ERROR_SUCCESS)
    return {};
  wchar_t buffer[256] = {};
  DWORD type = REG_NONE, size = sizeof buffer;
  const LONG status =
      RegQueryValueExW(key, L"ProcessorNameString", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return {};
  if (size != 0 && (size % 2 != 0 || buffer[size / 2 - 1] != L'\0')) return {};
  return win32::Narrow(buffer, std::wcslen(buffer));
}

// The first adapter, in the system's order, whose first gateway is set (an adapter without one
// reports 0.0.0.0). One buffer of five adapter records: a machine with more has none.
std::optional<std::array<uint8_t, 6>> AdapterAddress() {
  alignas(IP_ADAPTER_INFO) unsigned char buffer[3240] = {};
  ULONG size = sizeof buffer;
  auto* adapter = reinterpret_cast<IP_ADAPTER_INFO*>(buffer);
  if (GetAdaptersInfo(adapter, &size) != ERROR_SUCCESS) return std::nullopt;
  for (; adapter; adapter = adapter->Next) {
    if (adapter->GatewayList.IpAddress.String[0] == '0') continue;
    std::array<uint8_t, 6> address{};
    std::memcpy(address.data(), adapter->Address, address.size());
    return address;
  }
  return std::nullopt;
}

void ReadMemory(MachineFacts& facts) {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  if (!GlobalMemoryStatusEx(&status)) return;
  facts.physicalKb = static_cast<int64_t>(status.ullTotalPhys / 1024);
  // The process's virtual address space, as the Windows launcher has always reported it.
  facts.virtualKb = static_cast<int64_t>(status.ullTotalVirtual / 1024);
}

// The "SerialNumber" of the last object a query returns; empty for a missing or non-text value.
bool QuerySerial(IWbemServices* services, const wchar_t* query, std::string& serial) {
  BstrText language(L"WQL"), text(query);
  ComRef<IEnumWbemClassObject> results;
  if (FAILED(services->ExecQuery(language.text, text.text, WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY,
                                 nullptr, results.Out())))
    return false;
  for (;;) {
    ComRef<IWbemClassObject> object;
    ULONG returned = 0;
    if (results->Next(WBEM_INFINITE, 1, object.Out(), &returned) != WBEM_S_NO_ERROR || returned == 0) break;
    VARIANT value;
    VariantInit(&value);
    serial.clear();
    if (SUCCEEDED(object->Get(L"SerialNumber", 0, &value, nullptr, nullptr)) && value.vt == VT_BSTR && value.bstrVal)
      serial = win32::Narrow(value.bstrVal, SysStringLen(value.bstrVal));
    VariantClear(&value);
  }
  return true;
}

// The three serials, or none of them when any step fails.
void ReadSerials(MachineFacts& facts) {
  const HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  const bool ownCom = SUCCEEDED(init);
  if (FAILED(init) && init != RPC_E_CHANGED_MODE) return;
  {
    // The process's security may be set already (by an earlier call): that is not a failure.
    const HRESULT security = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                                                  RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
    ComRef<IWbemLocator> locator;
    ComRef<IWbemServices> services;
    BstrText space(L"ROOT\\CIMV2");
    std::string board, bios, system;
    const bool ok =
        (SUCCEEDED(security) || security == RPC_E_TOO_LATE) &&
        SUCCEEDED(
            CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator, locator.OutVoid())) &&
        SUCCEEDED(locator->ConnectServer(space.text, nullptr, nullptr, nullptr, 0, nullptr, nullptr, services.Out())) &&
        SUCCEEDED(CoSetProxyBlanket(services.Get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                                    RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE)) &&
        QuerySerial(services.Get(), L"SELECT * FROM Win32_BaseBoard", board) &&
        QuerySerial(services.Get(), L"SELECT * FROM Win32_BIOS", bios) &&
        QuerySerial(services.Get(), L"SELECT * FROM Win32_OperatingSystem", system);
    if (ok) {
      facts.boardSerial = board;
      facts.biosSerial = bios;
      facts.systemSerial = system;
    }
  }
  if (ownCom) CoUninitialize();
}

}  // namespace

MachineFacts ReadMachineFacts(const MachineSources&) {
  MachineFacts facts;
  facts.is64Bit = Is64BitWindows();
  ReadVersion(facts);
  facts.cpuName = CpuName();
  facts.adapterAddress = AdapterAddress();
  ReadMemory(facts);
  ReadSerials(facts);
  return facts;
}

// The system browser's own user agent; a plain one naming Windows when it cannot be had.
std::string SystemUserAgent() {
  char agent[1024] = {};
  DWORD size = sizeof agent;
  if (ObtainUserAgentString(0, agent, &size) == S_OK) return agent;
  return "Mozilla/5.0 (Windows NT 10.0)";
}

}  // namespace os
