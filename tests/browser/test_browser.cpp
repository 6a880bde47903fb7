// Emulation values in the file-backed registry, the page's key filter and its budget of browser windows.
#include <gtest/gtest.h>

#include <glib.h>

#include <chrono>
#include <string>

#include "browser/CWebBrowserHelper.h"
#include "browser/KeyFilter.h"
#include "browser/NewWindowGate.h"
#include "browser/OpenBudget.h"
#include "log/LauncherLog.h"
#include "os/FileSystem.h"
#include "os/Process.h"
#include "os/Registry.h"
#include "support/Sandbox.h"

namespace {

const char kEmu32[] = "Software\\Microsoft\\Internet Explorer\\Main\\FeatureControl\\FEATURE_BROWSER_EMULATION";
const char kEmu64[] =
    "Software\\Wow6432Node\\Microsoft\\Internet Explorer\\Main\\FeatureControl\\FEATURE_BROWSER_EMULATION";
const char kVer32[] = "SOFTWARE\\Microsoft\\Internet Explorer";
const char kVer64[] = "SOFTWARE\\Wow6432Node\\Microsoft\\Internet Explorer";

struct EmulationFixture : ::testing::Test {
  void SetUp() override {
    box.MakeDrives(true);
    os::MakeDirectories(box.InstallDir());
    LauncherLog::Instance().Open(box.LogPath());
  }
  static CWebBrowserHelper Helper(bool wow64) { return CWebBrowserHelper(wow64, os::ApplicationName()); }
  static void SetVersion(const char* key, const char* name, const char* text) {
    ASSERT_EQ(os::RegCreateKey(os::RegRoot::LocalMachine, key), os::kRegSuccess);
    ASSERT_EQ(os::RegSetString(os::RegRoot::LocalMachine, key, name, text), os::kRegSuccess);
  }
  static uint32_t Value(os::RegRoot root, const char* key, const std::string& name) {
    uint32_t v = 0;
    EXPECT_EQ(os::RegQueryDword(root, key, name, v), os::kRegSuccess) << key << " " << name;
    return v;
  }
  std::string Log() const {
    LauncherLog::Instance().Close();
    return Sandbox::ReadFile(box.LogPath());
  }
  Sandbox box;
};

TEST_F(EmulationFixture, WritesBothNamesUnderBothRootsOnTheChosenPath) {
  struct Case {
    bool wow64;
    const char* versionKey;
    const char* emulationKey;
    const char* otherEmulationKey;
  };
  for (const Case& c : {Case{true, kVer64, kEmu64, kEmu32}, Case{false, kVer32, kEmu32, kEmu64}}) {
    SCOPED_TRACE(c.wow64);
    Sandbox fresh;  // a registry of its own per case
    fresh.MakeDrives(true);
    // "svcVersion" absent, "Version" 9.0: 9 gives 9999.
    SetVersion(c.versionKey, "Version", "9.0.8112.16421");
    Helper(c.wow64).FixBrowserVersion();
    // The test program's name carries an underscore suffix; the value uses the full name.
    for (os::RegRoot root : {os::RegRoot::LocalMachine, os::RegRoot::CurrentUser}) {
      EXPECT_EQ(Value(root, c.emulationKey, "test_browser.exe"), 9999u);
      EXPECT_EQ(Value(root, c.emulationKey, "WebBrowserTool.exe"), 9999u);
      EXPECT_EQ(os::RegOpenKey(root, c.otherEmulationKey), os::kRegFileNotFound);
    }
  }
}

TEST_F(EmulationFixture, LargestVersionWinsAndNothingReadableGives7000) {
  const CWebBrowserHelper helper = Helper(true);
  EXPECT_EQ(helper.GetBrowserVersion(), 0);
  helper.FixBrowserVersion();
  EXPECT_EQ(Value(os::RegRoot::CurrentUser, kEmu64, "WebBrowserTool.exe"), 7000u);

  SetVersion(kVer64, "svcVersion", "11.0.9600.17843");
  SetVersion(kVer64, "Version", "9.11.9600.17843");
  SetVersion(kVer64, "W2kVersion", ".12");  // a leading "." contributes 0
  EXPECT_EQ(helper.GetBrowserVersion(), 11);
  helper.FixBrowserVersion();
  EXPECT_EQ(Value(os::RegRoot::LocalMachine, kEmu64, "test_browser.exe"), 11001u);

  const std::string log = Log();
  // The key was missing at first: each of the four names logged the open failure.
  EXPECT_NE(log.find("[ERROR][CWebBrowserHelper::GetBrowserVersion::133] QueryRegistryKey lret:2 error:"),
            std::string::npos)
      << log;
  // Later the key existed but "svcUpdateVersion" did not.
  EXPECT_NE(log.find("[ERROR][CWebBrowserHelper::GetBrowserVersion::143] QueryRegistryKey lret:2 error:"),
            std::string::npos)
      << log;
}

TEST_F(EmulationFixture, RootNameMustMatchExactly) {
  const CWebBrowserHelper helper = Helper(false);
  helper.FixBrowserVersion_Internal("HKEY_LOCAL_MACHINE ", "a.exe", 8888);
  helper.FixBrowserVersion_Internal("HKEY_LOCAL_MACHINE", "b.exe", 10001);
  uint32_t v = 0;
  EXPECT_EQ(os::RegQueryDword(os::RegRoot::LocalMachine, kEmu32, "a.exe", v), os::kRegFileNotFound);
  EXPECT_EQ(Value(os::RegRoot::CurrentUser, kEmu32, "a.exe"), 8888u);
  EXPECT_EQ(Value(os::RegRoot::LocalMachine, kEmu32, "b.exe"), 10001u);
}

TEST(EmulationValues, TableAndVersionText) {
  struct Case {
    int v;
    uint32_t value;
  };
  for (const Case& c :
       {Case{0, 7000}, Case{7, 7000}, Case{-3, 7000}, Case{8, 8888}, Case{9, 9999}, Case{10, 10001}, Case{11, 11001}}) {
    EXPECT_EQ(CWebBrowserHelper::EmulationValue(c.v), c.value) << c.v;
  }
  struct Text {
    const char16_t* text;
    int major;
  };
  for (const Text& t : {Text{u"11.0.9600", 11}, Text{u"9", 9}, Text{u".5", 0}, Text{u"", 0}, Text{u"  10.1", 10},
                        Text{u"abc", 0}, Text{u"8b.1", 8}, Text{u"99999999999.1", 2147483647}}) {
    EXPECT_EQ(CWebBrowserHelper::MajorVersionFromText(t.text), t.major);
  }
}

TEST(KeyFilterTest, DecidedByTheKeysHeldDown) {
  struct Case {
    bool press;
    HeldKeys held;
    bool swallow;
  };
  const Case cases[] = {
      {true, {.f5 = true}, true},                             // refresh
      {true, {.f5 = true, .ctrl = true}, true},               // F5 held: any other key press goes too
      {true, {.ctrl = true, .o = true}, true},                // open
      {true, {.ctrl = true, .p = true}, true},                // print
      {true, {.ctrl = true, .n = true}, true},                // new window
      {true, {.n = true}, false},                             // plain typing
      {true, {.ctrl = true}, false},                          // Ctrl+C, Ctrl+A, Ctrl+V
      {false, {.f5 = true, .ctrl = true, .n = true}, false},  // releases always pass
  };
  for (const Case& c : cases) EXPECT_EQ(ShouldSwallowKey(c.press, c.held), c.swallow);
}

// Three opens within any 60 s: a refused open does not count, and each open frees its place 60 s
// after it was taken.
TEST(OpenBudgetTest, AtMostThreeInAnySixtySeconds) {
  using std::chrono::seconds;
  OpenBudget budget(3, seconds(60));
  const OpenBudget::Clock::time_point t0{};
  struct Step {
    int at;
    bool opens;
  } steps[] = {{0, true},   {1, true},  {2, true},  {3, false},   {59, false}, {60, true},
               {60, false}, {61, true}, {62, true}, {119, false}, {120, true}};
  for (const Step& s : steps) EXPECT_EQ(budget.Take(t0 + seconds(s.at)), s.opens) << "at " << s.at;
}

// The key of the event counts as held whatever the keyboard read says; only the four keys map.
TEST(KeyFilterTest, ThePressedKeyCountsAsHeld) {
  EXPECT_TRUE(ShouldSwallowKey(true, WithPressedKey({}, FilterKey::F5)));
  EXPECT_TRUE(ShouldSwallowKey(true, WithPressedKey({.ctrl = true}, FilterKey::N)));
  EXPECT_TRUE(ShouldSwallowKey(true, WithPressedKey({.ctrl = true, .o = true}, FilterKey::Other)));
  EXPECT_FALSE(ShouldSwallowKey(true, WithPressedKey({.ctrl = true}, FilterKey::Other)));
  EXPECT_FALSE(ShouldSwallowKey(true, WithPressedKey({}, FilterKey::P)));
}

TEST(KeyFilterTest, OnlyCtrlAloneWithTheWheelIsSwallowed) {
  struct Case {
    WheelModifiers held;
    bool swallow;
  };
  const Case cases[] = {
      {{}, false},
      {{.ctrl = true}, true},  // zoom
      {{.ctrl = true, .shift = true}, false},
      {{.ctrl = true, .mouseButton = true}, false},
      {{.shift = true}, false},
  };
  for (const Case& c : cases) EXPECT_EQ(ShouldSwallowWheel(c.held), c.swallow);
}

// The scheme rule of URI parsing: a letter, then letters, digits, "+", "-" or ".", then ":".
TEST(NewWindowGateTest, OnlyHttpAndHttpsAddressesAreWebAddresses) {
  struct Case {
    const char* uri;
    bool web;
  };
  const Case cases[] = {
      {"http://example.com/", true},
      {"HTTPS://example.com/", true},
      {"hTtP:relative", true},
      {"https:", true},
      {"http", false},
      {" http://example.com/", false},
      {"httpx://example.com/", false},
      {"file:///etc/passwd", false},
      {"javascript:alert(1)", false},
      {"smb://host/share", false},
      {"://x", false},
      {"", false},
      {"http//x:y", false},
      {"1http://x", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NewWindowGate::IsWebAddress(c.uri), c.web) << c.uri;
    // The same answer as the desktop's own URI parser.
    gchar* scheme = g_uri_parse_scheme(c.uri);
    const bool reference =
        scheme && (g_ascii_strcasecmp(scheme, "http") == 0 || g_ascii_strcasecmp(scheme, "https") == 0);
    g_free(scheme);
    EXPECT_EQ(NewWindowGate::IsWebAddress(c.uri), reference) << c.uri;
  }
}

TEST(NewWindowGateTest, OpensWebAddressesOnAClickWithinTheBudgetAndLogsRefusals) {
  NewWindowGate gate;
  const OpenBudget::Clock::time_point t0{};
  struct Step {
    const char* uri;
    bool click;
    bool open;
    const char* log;
  };
  const Step steps[] = {
      {"", true, false, ""},
      {"about:blank", true, false, ""},
      {"https://a.example/", false, false, "new window refused (no user gesture): https://a.example/"},
      {"file:///tmp/x", true, false, "new window refused: file:///tmp/x"},
      {"https://a.example/1", true, true, ""},
      {"http://a.example/2", true, true, ""},
      {"HTTPS://a.example/3", true, true, ""},
      {"https://a.example/4", true, false, "new window refused (more than 3 a minute): https://a.example/4"},
  };
  for (const Step& s : steps) {
    const NewWindowGate::Decision d = gate.Decide(s.uri, s.click, t0);
    EXPECT_EQ(d.open, s.open) << s.uri;
    EXPECT_EQ(d.logLine, s.log) << s.uri;
  }
  EXPECT_TRUE(gate.Decide("https://a.example/5", true, t0 + std::chrono::seconds(60)).open);

  // At most 100 refusal lines (3 so far); the refusals go on without them.
  for (int i = 3; i < NewWindowGate::kMaxRefusalLines; ++i) {
    ASSERT_FALSE(gate.Decide("smb://host/share", true, t0).logLine.empty()) << i;
  }
  const NewWindowGate::Decision late = gate.Decide("smb://host/share", true, t0);
  EXPECT_FALSE(late.open);
  EXPECT_TRUE(late.logLine.empty());
}

}  // namespace
