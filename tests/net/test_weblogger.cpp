#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "Identity.h"
#include "NetTestSupport.h"
#include "log/LauncherLog.h"
#include "net/MachineInfo.h"
#include "net/WebLogger.h"
#include "os/Process.h"
#include "support/Sandbox.h"

using namespace nettest;

namespace {

// A machine on which no source can be read: every fallback value.
const MachineInfo& UnknownMachine() {
  static const MachineInfo info = MachineInfo::Collect({"/nonexistent-root", "6.1.0", "x86_64"});
  return info;
}

const MachineInfo& LiveMachine() {
  static const MachineInfo info = MachineInfo::Collect({});
  return info;
}

std::string LiveCommonPart(const std::string& endpoint) {
  const MachineInfo& m = LiveMachine();
  return endpoint + "?client_uid=" + m.clientUid + "&ditch_name=" + identity::ChannelName + "&mac=" + m.macAddress +
         "&os_version=" + WebLogger::EscapeSegment(m.osText);
}

}  // namespace

TEST(WebLogger, EscapesTheWholeValueAsOneSegment) {
  const std::pair<std::string, std::string> cases[] = {
      {"launcher start", "launcher%20start"},
      {"a?b#c", "a%3Fb%23c"},        // "?" and "#" do not end the escaping
      {"100% done", "100%%20done"},  // "%" is left as it is
      {"a&b=c+d", "a%26b=c%2Bd"},    // cannot split or alter the query string
      {"download url:http://h:1/p.zip?x=1", "download%20url:http:%2F%2Fh:1%2Fp.zip%3Fx=1"},
      {"创建数据目录失败,错误id:5",
       "%E5%88%9B%E5%BB%BA%E6%95%B0%E6%8D%AE%E7%9B%AE%E5%BD%95%E5%A4%B1%E8%B4%A5,%E9%94%99%E8%AF%AFid:5"},
      {"tab\tquote\"<>[\\]^`{|}\x7f", "tab%09quote%22%3C%3E%5B%5C%5D%5E%60%7B%7C%7D%7F"},
      {"Intel(R) Core(TM) i5-8250U @ 1.60GHz!$'*,;~_", "Intel(R)%20Core(TM)%20i5-8250U%20@%201.60GHz!$'*,;~_"},
  };
  for (const auto& [value, escaped] : cases) EXPECT_EQ(WebLogger::EscapeSegment(value), escaped) << value;
}

TEST(WebLogger, CommonPartWithFallbackIdentity) {
  EXPECT_EQ(WebLogger::CommonPart("http://t.example/api/laucher_info.php", UnknownMachine()),
            std::string("http://t.example/api/laucher_info.php?client_uid=unkown&ditch_name=") + identity::ChannelName +
                "&mac=unkown&os_version=Version%20major:6%20minor:1%20build:0"
                "physical%20memory:0%20MB%20virtual%20memory:0%20MB");
}

TEST(WebLogger, ExactReportUrls) {
  WebLogger logger(LiveMachine(), identity::InfoReportUrl, identity::ErrorReportUrl);
  const std::string info = std::string(identity::ServerBase) + "/api/laucher_info.php";
  const std::string error = std::string(identity::ServerBase) + "/api/laucher_error.php";
  EXPECT_EQ(logger.BuildEventUrl(Create), LiveCommonPart(info) + "&ac=create");
  EXPECT_EQ(logger.BuildEventUrl(DownloadStart), LiveCommonPart(info) + "&ac=download_start");
  EXPECT_EQ(logger.BuildEventUrl(UnzipStart), LiveCommonPart(info) + "&ac=unzip_start");
  EXPECT_EQ(logger.BuildEventUrl(UnzipFinished), LiveCommonPart(info));
  EXPECT_EQ(logger.BuildEventUrl(GameStart), LiveCommonPart(info) + "&ac=game_start");
  EXPECT_EQ(logger.BuildEventUrl(42), LiveCommonPart(info));
  EXPECT_EQ(logger.BuildMessageUrl("launcher start"), LiveCommonPart(error) + "&error_msg=launcher%20start");
}

TEST(WebLogger, ReportsReachTheServerFromAnyThreadAndAreLoggedFirst) {
  Sandbox box;
  box.MakeDrives(true);
  std::filesystem::create_directories(box.InstallDir());
  LauncherLog::Instance().Open(box.LogPath());

  RecordingServer server;
  OwnerLoop loop;  // never iterated: reports still go out
  std::string eventUrl, messageUrl;
  {
    WebLogger logger(LiveMachine(), server.Url("/api/laucher_info.php"), server.Url("/api/laucher_error.php"));
    eventUrl = logger.BuildEventUrl(Create);
    messageUrl = logger.BuildMessageUrl("launcher start");
    logger.LogEvent(Create);
    std::thread([&] { logger.LogEvent(UnzipFinished); }).join();
    std::thread([&] { logger.Log("launcher start"); }).join();
    ASSERT_TRUE(server.WaitForCount(3, 5000));
  }
  LauncherLog::Instance().Close();

  const MachineInfo& m = LiveMachine();
  int events = 0, messages = 0;
  for (const Received& r : server.Requests()) {
    EXPECT_EQ(r.method, "GET");
    auto param = [&](const char* name) {
      auto it = r.params.find(name);
      return it == r.params.end() ? std::string("<absent>") : it->second;
    };
    EXPECT_EQ(param("client_uid"), m.clientUid);
    EXPECT_EQ(param("ditch_name"), identity::ChannelName);
    EXPECT_EQ(param("mac"), m.macAddress);
    EXPECT_EQ(param("os_version"), m.osText);  // arrives intact after the server decodes it
    if (r.target.rfind("/api/laucher_info.php?", 0) == 0) {
      ++events;
      EXPECT_TRUE(param("ac") == "create" || param("ac") == "<absent>") << r.target;
    } else {
      ++messages;
      EXPECT_EQ(r.target.rfind("/api/laucher_error.php?", 0), 0u) << r.target;
      EXPECT_EQ(param("error_msg"), "launcher start");
    }
  }
  EXPECT_EQ(events, 2);
  EXPECT_EQ(messages, 1);

  std::string log = Sandbox::ReadFile(box.LogPath());
  EXPECT_NE(log.find("[INFO][WebLogger::LogEvent::49] " + eventUrl + "\n"), std::string::npos) << log;
  EXPECT_NE(log.find("[INFO][WebLogger::Log::71] " + messageUrl + "\n"), std::string::npos) << log;
}

TEST(WebLogger, UnreachableServerNeverDelaysTheCaller) {
  SilentServer silent;
  OwnerLoop loop;
  for (const std::string& base : {silent.Url(""), "http://127.0.0.1:" + std::to_string(ClosedPort())}) {
    auto logger =
        std::make_unique<WebLogger>(LiveMachine(), base + "/api/laucher_info.php", base + "/api/laucher_error.php");
    auto start = Clock::now();
    for (int i = 0; i < 10; ++i) {
      logger->LogEvent(Create);
      logger->Log("launcher start");
    }
    EXPECT_LT(MsSince(start), 500) << base;
    loop.RunUntil([] { return false; }, 100);  // transfers now blocked (or refused)
    start = Clock::now();
    logger.reset();
    EXPECT_LT(MsSince(start), 3500) << base;
  }
}

TEST(WebLogger, ProcessExitsPromptlyWithReportsInFlight) {
  Sandbox box;  // the probe's log goes into the sandbox
  SilentServer silent;
  std::string command = std::string(VELLMORA_EXIT_PROBE) + " '" + silent.Url("/api/laucher_info.php") + "' '" +
                        silent.Url("/api/laucher_error.php") + "'";
  auto start = Clock::now();
  int status = RunShell(command);
  long long elapsed = MsSince(start);
  EXPECT_EQ(status, 0);
  EXPECT_LT(elapsed, 3500);
}
