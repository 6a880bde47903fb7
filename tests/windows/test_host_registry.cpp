// The registry on Windows through the system's API: values of both types round-trip, and the status
// codes are the system's.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "os/Registry.h"

namespace {

// A key of the test's own under HKEY_CURRENT_USER, removed with its subkeys afterwards.
class TestKey {
 public:
  TestKey() : path_("Software\\VellmoraHostTest-" + std::to_string(GetCurrentProcessId())) {}
  ~TestKey() { RegDeleteTreeW(HKEY_CURRENT_USER, std::wstring(path_.begin(), path_.end()).c_str()); }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

TEST(RegistryWindows, StringAndDwordValuesRoundTrip) {
  TestKey key;
  const std::string sub = key.Path() + "\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\qvx";
  ASSERT_EQ(os::RegCreateKey(os::RegRoot::CurrentUser, sub), os::kRegSuccess);
  EXPECT_EQ(os::RegOpenKey(os::RegRoot::CurrentUser, sub), os::kRegSuccess);
  // Creating it again opens it.
  EXPECT_EQ(os::RegCreateKey(os::RegRoot::CurrentUser, sub), os::kRegSuccess);

  struct Case {
    const char* name;
    const char* value;
  };
  const Case strings[] = {
      {"InstallPath", "C:\\qvx-harlu7"},
      {"UninstallString", "C:\\qvx-harlu7\\qvx.exe /uninstall"},
      {"DisplayName", ""},
      {"Unicode \xE6\x97\xA5", "\xE6\xB8\xB8\xE6\x88\x8F \xF0\x9F\x8E\xAE"},  // beyond the code page and the BMP
  };
  for (const Case& c : strings) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(os::RegSetString(os::RegRoot::CurrentUser, sub, c.name, c.value), os::kRegSuccess);
    std::string read;
    EXPECT_EQ(os::RegQueryString(os::RegRoot::CurrentUser, sub, c.name, read), os::kRegSuccess);
    EXPECT_EQ(read, c.value);
    // The raw data is UTF-16LE with its terminating zero, as RegQueryValueExW gives it.
    os::RegType type = os::RegType::None;
    std::string data;
    ASSERT_EQ(os::RegQueryValue(os::RegRoot::CurrentUser, sub, c.name, type, data), os::kRegSuccess);
    EXPECT_EQ(type, os::RegType::String);
    ASSERT_GE(data.size(), 2u);
    EXPECT_EQ(data.substr(data.size() - 2), std::string(2, '\0'));
  }

  for (uint32_t value : {0u, 320u, 10000u, 0xFFFFFFFFu}) {
    ASSERT_EQ(os::RegSetDword(os::RegRoot::CurrentUser, sub, "Width", value), os::kRegSuccess);
    uint32_t read = 1;
    EXPECT_EQ(os::RegQueryDword(os::RegRoot::CurrentUser, sub, "Width", read), os::kRegSuccess);
    EXPECT_EQ(read, value);
  }
}

TEST(RegistryWindows, StatusCodesAreTheSystems) {
  TestKey key;
  const std::string parent = key.Path();
  const std::string child = parent + "\\child";
  // A missing key and a missing value: ERROR_FILE_NOT_FOUND.
  EXPECT_EQ(os::RegOpenKey(os::RegRoot::CurrentUser, child), os::kRegFileNotFound);
  EXPECT_EQ(os::RegSetString(os::RegRoot::CurrentUser, child, "x", "y"), os::kRegFileNotFound);
  EXPECT_EQ(os::RegDeleteKey(os::RegRoot::CurrentUser, child), os::kRegFileNotFound);
  ASSERT_EQ(os::RegCreateKey(os::RegRoot::CurrentUser, child), os::kRegSuccess);
  std::string text;
  EXPECT_EQ(os::RegQueryString(os::RegRoot::CurrentUser, child, "absent", text), os::kRegFileNotFound);
  // A value of the other type: ERROR_INVALID_DATA, nothing taken from it.
  ASSERT_EQ(os::RegSetDword(os::RegRoot::CurrentUser, child, "n", 7), os::kRegSuccess);
  EXPECT_EQ(os::RegQueryString(os::RegRoot::CurrentUser, child, "n", text), os::kRegInvalidData);
  ASSERT_EQ(os::RegSetString(os::RegRoot::CurrentUser, child, "s", "7"), os::kRegSuccess);
  uint32_t number = 0;
  EXPECT_EQ(os::RegQueryDword(os::RegRoot::CurrentUser, child, "s", number), os::kRegInvalidData);
  // A type the store has no name for passes through with its own number, for callers that take
  // the bytes whatever the type.
  const DWORD big[2] = {1, 2};
  const std::wstring wideChild(child.begin(), child.end());
  ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, wideChild.c_str(), L"bin", REG_BINARY, big, sizeof big), ERROR_SUCCESS);
  os::RegType type = os::RegType::None;
  std::string data;
  EXPECT_EQ(os::RegQueryValue(os::RegRoot::CurrentUser, child, "bin", type, data), os::kRegSuccess);
  EXPECT_EQ(static_cast<int>(type), REG_BINARY);
  EXPECT_EQ(data.size(), sizeof big);
  // A key with subkeys is not deleted; without them it is, and then it is gone.
  EXPECT_EQ(os::RegDeleteKey(os::RegRoot::CurrentUser, parent), os::kRegAccessDenied);
  EXPECT_EQ(os::RegDeleteKey(os::RegRoot::CurrentUser, child), os::kRegSuccess);
  EXPECT_EQ(os::RegOpenKey(os::RegRoot::CurrentUser, child), os::kRegFileNotFound);
  // A root is never deleted.
  EXPECT_EQ(os::RegDeleteKey(os::RegRoot::CurrentUser, ""), os::kRegAccessDenied);
}
