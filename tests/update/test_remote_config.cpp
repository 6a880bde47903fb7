// Remote configuration: the fetch against a loopback server, the document's parse, the lookups
// and the version numbers.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <future>
#include <thread>

#include "UpdateTestSupport.h"
#include "update/CGameRemoteConfig.h"

namespace {

const char kWorker[] = "CGameRemoteConfig::InitRemoteConfig";

class RemoteConfigTest : public UpdateTest {};

TEST_F(RemoteConfigTest, CrlfDuplicateKeysAndEqualsInValuesAreKeptAsSent) {
  TestServer server;
  ServeConfig(server,
              "EntryUrl=page?x=1\r\nClientVersion=1.0.3.7\r\nEntryUrl=second\r\nno equals here\r\n"
              "CustomParameters=a=b");
  ASSERT_EQ(Pipeline().FetchRemoteConfig(), CGameRemoteConfig::FetchResult::Ok);

  const auto& table = Ctx().remoteConfig;
  EXPECT_EQ(Ctx().remoteConfig.GetEntryUrl(), "page?x=1\r");  // first occurrence wins, the CR stays
  EXPECT_EQ(table.Find("ClientVersion").value_or("absent"), "1.0.3.7\r");
  EXPECT_EQ(table.Find("").value_or("absent"), "no equals here\r");  // a line without "=" is the empty key
  EXPECT_EQ(Ctx().remoteConfig.GetCustomParameters(), "a=b");        // only the first "=" splits
  EXPECT_FALSE(table.Find("ClientMiniUpdateVersion").has_value());
  EXPECT_TRUE(LogHas(TakeLog(), "INFO", kWorker, 140, server.Url("/config")));
}

TEST_F(RemoteConfigTest, EmptyDocumentHoldsOnlyTheEmptyKey) {
  TestServer server;
  ServeConfig(server, "");
  ASSERT_EQ(Pipeline().FetchRemoteConfig(), CGameRemoteConfig::FetchResult::Ok);
  EXPECT_EQ(Ctx().remoteConfig.Size(), 1u);
  EXPECT_EQ(Ctx().remoteConfig.Find("").value_or("absent"), "");
  EXPECT_EQ(Ctx().remoteConfig.GetEntryUrl(), "");
  EXPECT_EQ(Ctx().remoteConfig.GetCustomParameters(), "");
}

TEST_F(RemoteConfigTest, DocumentEndingInLineFeedHasAFinalEmptyLine) {
  Ctx().remoteConfig.Parse("A=1\nB=2\n");
  EXPECT_EQ(Ctx().remoteConfig.Size(), 3u);
  EXPECT_EQ(Ctx().remoteConfig.Find("").value_or("absent"), "");
}

TEST_F(RemoteConfigTest, RedirectIsFollowedAndChannelPlaceholderReplaced) {
  TestServer server;
  server.Raw().Get("/api/harlu7/config",
                   [&](const httplib::Request&, httplib::Response& res) { res.set_redirect(server.Url("/final")); });
  server.ServeText("/final", "EntryUrl=http://page/");
  SetConfigUrl(server.Url("/api/{ditch_name}/config"));
  ASSERT_EQ(Pipeline().FetchRemoteConfig(), CGameRemoteConfig::FetchResult::Ok);
  EXPECT_EQ(Ctx().remoteConfig.GetEntryUrl(), "http://page/");
  EXPECT_TRUE(LogHas(TakeLog(), "INFO", kWorker, 140, server.Url("/api/harlu7/config")));
}

TEST_F(RemoteConfigTest, MultiByteCharacterSplitAcrossChunksSurvives) {
  TestServer server;
  const std::string document = "EntryUrl=\xE9\xA1\xB5\xE9\x9D\xA2";  // two CJK characters in UTF-8
  server.Raw().Get("/config", [&](const httplib::Request&, httplib::Response& res) {
    res.set_chunked_content_provider("text/plain", [&, sent = 0](size_t, httplib::DataSink& sink) mutable {
      if (sent == 0) {
        sink.write(document.data(), 11);  // ends inside the first character
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
      } else if (sent == 1) {
        sink.write(document.data() + 11, document.size() - 11);
      } else {
        sink.done();
      }
      ++sent;
      return true;
    });
  });
  SetConfigUrl(server.Url("/config"));
  ASSERT_EQ(Pipeline().FetchRemoteConfig(), CGameRemoteConfig::FetchResult::Ok);
  EXPECT_EQ(Ctx().remoteConfig.GetEntryUrl(), "\xE9\xA1\xB5\xE9\x9D\xA2");
}

TEST_F(RemoteConfigTest, FailuresLogTransferResultAndStatus) {
  struct Case {
    const char* name;
    bool reachable;
    int status;  // what the server answers
    size_t bodySize;
    int result;  // what the fetch reports
  };
  // A document over 1 MiB is no configuration: the transfer stops (a write error) before the
  // body grows further.
  for (const Case& c : {Case{"404", true, 404, 21, 0}, Case{"unreachable", false, 0, 0, 7},
                        Case{"endless body", true, 200, 4 << 20, 23}}) {
    SCOPED_TRACE(c.name);
    SetUp();
    TestServer server;
    server.Raw().Get("/config", [&c](const httplib::Request&, httplib::Response& res) {
      res.status = c.status;
      std::string body = "ClientVersion=9.9.9.9";
      body.resize(c.bodySize, 'x');
      res.set_content(body, "text/plain");
    });
    std::string url = c.reachable ? server.Url("/config") : "http://127.0.0.1:" + std::to_string(UnusedPort()) + "/c";
    SetConfigUrl(url);
    int result = -1;
    long status = -1;
    EXPECT_EQ(Pipeline().FetchRemoteConfig(&result, &status), CGameRemoteConfig::FetchResult::TransferFailed);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(Ctx().remoteConfig.Size(), 0u);  // a failed body is never parsed
    EXPECT_TRUE(LogHas(TakeLog(), "ERROR", kWorker, 200,
                       "res:" + std::to_string(c.result) + ", httpStatusCode:" + std::to_string(c.status)));
  }
}

// Closing the launcher while the configuration server has taken the connection and says nothing:
// the fetch ends at its next progress tick, long before the 30 s stall limit, and the player is
// shown no network failure for it. Closing before the fetch began sends no request at all.
TEST_F(RemoteConfigTest, ClosingStopsTheFetchWithoutAFailureMessage) {
  using namespace std::chrono_literals;
  // Connections complete in the kernel's backlog; nothing is ever read or answered.
  int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(listener, 8), 0);
  getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
  SetConfigUrl("http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/config");

  RecordingWindow window;
  const auto start = std::chrono::steady_clock::now();
  auto worker = std::async(std::launch::async, [&] { return Pipeline().InitRemoteConfig(&window); });
  std::this_thread::sleep_for(200ms);
  Ctx().updateState.RequestCancel();
  const bool ended = worker.wait_for(5s) == std::future_status::ready;
  const auto elapsed = std::chrono::steady_clock::now() - start;
  close(listener);  // the worker, if still waiting, now fails at once
  worker.wait();
  EXPECT_TRUE(ended) << "the fetch did not stop when the launcher closed";
  EXPECT_LT(elapsed, 5s);
  EXPECT_TRUE(window.Messages().empty()) << window.Messages().front();
  EXPECT_FALSE(window.Has("InitWebBrower"));
  const std::string log = TakeLog();
  EXPECT_TRUE(LogHas(log, "INFO", kWorker, 201, "configuration fetch stopped, the launcher is closing")) << log;
  EXPECT_EQ(log.find("httpStatusCode"), std::string::npos) << log;

  // Already closing: not even a request.
  SetUp();
  TestServer server;
  std::atomic<int> requests{0};
  server.Raw().Get("/config", [&requests](const httplib::Request&, httplib::Response& res) {
    ++requests;
    res.set_content("ClientVersion=1.0.3.7\n", "text/plain");
  });
  SetConfigUrl(server.Url("/config"));
  Ctx().updateState.RequestCancel();
  EXPECT_EQ(Pipeline().FetchRemoteConfig(), CGameRemoteConfig::FetchResult::Stopped);
  EXPECT_EQ(requests, 0);
  EXPECT_EQ(Ctx().remoteConfig.Size(), 0u);
}

TEST(ClientVersionTest, ParsesDecimalPrefixesOfDottedFields) {
  struct Case {
    const char* text;
    ClientVersion expected;
  };
  const Case cases[] = {
      {"1.2.3.4", {1, 2, 3, 4}},   {"1.2", {1, 2, 0, 0}},
      {"1.2.3.4\n", {1, 2, 3, 4}}, {"", {0, 0, 0, 0}},
      {"a1.2.3.4", {0, 2, 3, 4}},  {" -3.+4.5x.6.7", {-3, 4, 5, 6}},
      {"1.0.3.7\r", {1, 0, 3, 7}}, {"99999999999.1", {2147483647, 1, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ParseVersionText(c.text), c.expected);
  }
}

TEST(ClientVersionTest, ComparesFieldsAsSignedNumbers) {
  EXPECT_GT(CompareVersions({1, 10, 0, 0}, {1, 9, 0, 0}), 0);  // numbers, not text
  EXPECT_LT(CompareVersions({1, 0, 0, 4}, {1, 0, 0, 5}), 0);
  EXPECT_EQ(CompareVersions({1, 0, 0, 5}, {1, 0, 0, 5}), 0);
  EXPECT_LT(CompareVersions({-1, 9, 9, 9}, {0, 0, 0, 0}), 0);
  EXPECT_GT(CompareVersions({2, 0, 0, 0}, {1, 99, 99, 99}), 0);
}

TEST_F(RemoteConfigTest, VersionTextIsLoggedCutTo255Characters) {
  ClientVersion v;
  Pipeline().CStringToLocalClientVersion(v, "1.2." + std::string(400, '7'));
  std::string expected = ("local_client_version:1.2." + std::string(400, '7')).substr(0, 255);
  EXPECT_TRUE(LogHas(TakeLog(), "INFO", "CGameRemoteConfig::CStringToLocalClientVersion", 1101, expected));
}

}  // namespace
