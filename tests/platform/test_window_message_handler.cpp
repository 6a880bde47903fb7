// The launch-parameter grammar, the query string, the lookups and the show-window payload.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "log/LauncherLog.h"
#include "os/FileSystem.h"
#include "os/Process.h"
#include "platform/CWindowMessageHandler.h"
#include "support/Sandbox.h"
#include "support/TestPlatform.h"

namespace {

struct Handler : ::testing::Test {
  void SetUp() override {
    box.MakeDrives(true);
    os::MakeDirectories(box.InstallDir());
    LauncherLog::Instance().Open(box.LogPath());
  }
  CWindowMessageHandler& Use(const std::string& commandLine, const std::string& appName) {
    handler = std::make_unique<CWindowMessageHandler>(commandLine, appName);
    return *handler;
  }
  // Closing flushes the file; the next test reopens it.
  std::string Log() const {
    LauncherLog::Instance().Close();
    return Sandbox::ReadFile(box.LogPath());
  }

  Sandbox box;
  std::unique_ptr<CWindowMessageHandler> handler;
};

TEST_F(Handler, QueryStringFollowsTheGrammar) {
  struct Case {
    const char* commandLine;
    const char* appName;
    const char* query;
    const char* fileParameter;
  } cases[] = {
      {"", "vellmora_abc", "fileparam=abc", "abc"},
      {"", "vellmora", "", ""},
      {"--winid=1 --token=t --source=FC", "vellmora", "winid=1&token=t&source=FC", ""},
      {"--winid=1", "vellmora_", "fileparam=&winid=1", ""},
      {"--winid=1", "a_b_c", "fileparam=c&winid=1", "c"},
      // "=" at index 0, 1 or 2 is no parameter; at 3 the key is one character.
      {"=x -=x -k=v ab=v abc=v", "vellmora", "c=v", ""},
      // The prefix is dropped unread; tokens split at spaces only, quotes and tabs are plain text.
      {"xxkey=val", "vellmora", "key=val", ""},
      {"  --a=1\t--b=2   --c=3 ", "vellmora", "a=1\t--b=2&c=3", ""},
      {"\"--x=1\"", "vellmora", "-x=1\"", ""},
      {"--token= --extra=a=b", "vellmora", "token=&extra=a=b", ""},
      {"--winid=1 --winid=2", "vellmora", "winid=1&winid=2", ""},
      {"/uninstall", "vellmora_fc", "fileparam=fc", "fc"},
      {"/uninstall --winid=3", "vellmora", "winid=3", ""},
      {"--Token=ABC", "vellmora", "Token=ABC", ""},
  };
  for (const Case& c : cases) {
    CWindowMessageHandler& h = Use(c.commandLine, c.appName);
    EXPECT_EQ(h.GetOrvaneUriFromCommandLine(), c.query) << "[" << c.commandLine << "] " << c.appName;
    EXPECT_EQ(h.FileParameter(), c.fileParameter) << "[" << c.commandLine << "] " << c.appName;
  }
}

TEST_F(Handler, FileParameterIsStoredByTheQueryString) {
  CWindowMessageHandler& h = Use("", "vellmora_abc");
  EXPECT_EQ(h.FileParameter(), "") << "nothing is read before the query string is built";
  h.GetOrvaneUriFromCommandLine();
  h.GetOrvaneUriFromCommandLine();
  EXPECT_EQ(h.FileParameter(), "abc");
}

TEST_F(Handler, LookupReturnsTheFirstExactMatch) {
  struct Case {
    const char* commandLine;
    const char* key;
    const char* value;
  } cases[] = {
      {"", "winid", ""},
      {"--winid=12 --token=ab --source=FC", "winid", "12"},
      {"--winid=12 --token=ab --source=FC", "source", "FC"},
      {"--winid=1 --winid=2", "winid", "1"},
      {"--WINID=5", "winid", ""},
      {"--winid=5", "WINID", ""},
      {"--winid=", "winid", ""},
      {"--token=a=b", "token", "a=b"},
      {"-w=5 --winidx=7", "winid", ""},
      {"/uninstall", "uninstall", ""},
      {"ab=1 abc=2", "c", "2"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Use(c.commandLine, "vellmora").GetOrvaneParamFromCommandLine(c.key), c.value)
        << "[" << c.commandLine << "] " << c.key;
  }
}

TEST_F(Handler, TokenReadStoresTheThreeParameters) {
  CWindowMessageHandler& h = Use("--source=FC --token=ab --winid=12abc", "vellmora");
  h.GetOrvaneTokenFromCommandLine();
  EXPECT_EQ(h.WindowId(), "12abc");
  EXPECT_EQ(h.Token(), "ab");
  EXPECT_EQ(h.Source(), "FC");
}

TEST(WindowId, ConvertsLikeTheDecimalReader) {
  struct Case {
    const char* text;
    long value;
  } cases[] = {
      {"12", 12}, {"  +42", 42}, {"\t7", 7}, {"-5", -5},  {"12abc", 12},
      {"abc", 0}, {"", 0},       {"+-3", 0}, {"0x1f", 0}, {"99999999999999999999", LONG_MAX},
  };
  for (const Case& c : cases) EXPECT_EQ(CWindowMessageHandler::ParseWindowId(c.text), c.value) << c.text;
}

TEST(ShowWindowPayload, IsByteExact) {
  const std::vector<uint8_t> p = CWindowMessageHandler::BuildShowWindowPayload(1);
  ASSERT_EQ(p.size(), 2056u);
  std::vector<uint8_t> expected(2056, 0);
  expected[0] = 1;     // kind, little-endian
  expected[4] = 0x31;  // "1" as the first UTF-16LE unit
  expected[2052] = 1;  // trailing 32-bit 1
  EXPECT_EQ(p, expected);
}

TEST_F(Handler, EveryStepIsLogged) {
  SetVariable("DISPLAY", nullptr);
  CWindowMessageHandler& h = Use("--winid=abc --token=t", "vellmora_x");
  h.GetOrvaneUriFromCommandLine();
  h.SendShowWindowMessage(0);
  const std::string log = Log();
  const char* lines[] = {
      "[INFO][CWindowMessageHandler::GetOrvaneUriFromCommandLine::91] --winid=abc --token=t\n",
      "[INFO][CWindowMessageHandler::GetOrvaneUriFromCommandLine::100] vellmora_x\n",
      "[INFO][CWindowMessageHandler::GetOrvaneUriFromCommandLine::148] "
      "GetOrvaneUriFromCommandLine\xEF\xBC\x9A"
      "fileparam=x&winid=abc&token=t\n",
      "[INFO][CWindowMessageHandler::GetOrvaneTokenFromCommandLine::80] --winid=abc --token=t\n",
      "[INFO][CWindowMessageHandler::GetOrvaneParamFromCommandLine::156] --winid=abc --token=t\n",
      // Not a number: window 0, nothing delivered.
      "[INFO][CWindowMessageHandler::SendShowWindowMessage::45] SendShowWindowMessage lret:0\n",
  };
  for (const char* line : lines) EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
}

TEST_F(Handler, NoWindowIdMeansNoMessageAndNoLogLine) {
  Use("--token=t", "vellmora").SendShowWindowMessage(0);
  EXPECT_EQ(Log().find("SendShowWindowMessage lret"), std::string::npos);
}

}  // namespace
