#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "NetTestSupport.h"
#include "net/FCHttpRequestManager.h"

using namespace nettest;

namespace {

enum Kind { Sent = 1, Finished = 2, TimedOut = 3 };

struct Note {
  int id;
  Kind kind;
  std::thread::id thread;
  HttpResponseInfo info;
  std::string body;
  int receivedBytes;
};

// Records every notification with the thread it ran on.
class RecordingManager : public FCHttpRequestManager {
 public:
  std::vector<Note> notes;
  std::atomic<size_t> finished{0};  // readable from other threads

  size_t CountOf(Kind kind) const {
    size_t n = 0;
    for (const Note& note : notes) n += note.kind == kind;
    return n;
  }
  std::vector<Kind> KindsOf(int id) const {
    std::vector<Kind> kinds;
    for (const Note& note : notes)
      if (note.id == id) kinds.push_back(note.kind);
    return kinds;
  }
  const Note* Last(int id, Kind kind) const {
    for (auto it = notes.rbegin(); it != notes.rend(); ++it)
      if (it->id == id && it->kind == kind) return &*it;
    return nullptr;
  }

 protected:
  void OnRequestSent(FCHttpRequest& r) override { Record(r, Sent); }
  void OnRequestFinished(FCHttpRequest& r) override {
    Record(r, Finished);
    ++finished;
  }
  void OnRequestTimeout(FCHttpRequest& r) override { Record(r, TimedOut); }

 private:
  void Record(FCHttpRequest& r, Kind kind) {
    notes.push_back(
        Note{r.Id(), kind, std::this_thread::get_id(), r.ResponseInfo(), r.ReceiveBuffer().Copy(), r.ReceivedBytes()});
  }
};

HttpRequestHeader Get(const std::string& url) {
  HttpRequestHeader header;
  header.url = url;
  return header;
}

}  // namespace

TEST(HttpRequestManager, IdsFrom100EventsInOrderOnOwnerThreadAndSweepStopsItself) {
  RecordingServer server;
  OwnerLoop loop;
  RecordingManager manager;
  ASSERT_EQ(manager.OwnerContext(), loop.Context());

  std::vector<int> ids;
  ids.push_back(manager.StartRequest(Get(server.Url("/hello"))));
  ids.push_back(manager.StartRequest(Get(server.Url("/big"))));
  ids.push_back(manager.StartRequest(Get(server.Url("/other?x=1"))));
  EXPECT_EQ(ids, (std::vector<int>{100, 101, 102}));
  EXPECT_EQ(manager.ActiveCount(), 3u);
  EXPECT_TRUE(manager.SweepTimerRunning());

  ASSERT_TRUE(loop.RunUntil([&] { return manager.CountOf(Finished) == 3; }, 5000));
  for (int id : ids) {
    EXPECT_EQ(manager.KindsOf(id), (std::vector<Kind>{Sent, Finished})) << id;
  }
  for (const Note& note : manager.notes) EXPECT_EQ(note.thread, std::this_thread::get_id());

  const Note* hello = manager.Last(100, Finished);
  ASSERT_NE(hello, nullptr);
  EXPECT_EQ(hello->info.statusCode, 200);
  EXPECT_EQ(hello->info.contentLength, 11);
  EXPECT_EQ(hello->info.lastModified, "Wed, 21 Oct 2015 07:28:00 GMT");
  EXPECT_EQ(hello->info.server, "loopback-test");
  EXPECT_TRUE(hello->info.readResult);
  EXPECT_NE(hello->info.requestHandle, nullptr);
  EXPECT_EQ(hello->body, "hello world");

  const Note* big = manager.Last(101, Finished);
  ASSERT_NE(big, nullptr);
  EXPECT_EQ(big->body, RecordingServer::Big());
  EXPECT_EQ(big->receivedBytes, 100000);
  EXPECT_EQ(big->info.contentLength, 100000);

  // A port written in the URL is the one connected to (the server listens on a random port).
  auto received = server.Requests();
  ASSERT_EQ(received.size(), 3u);
  bool sawQuery = false;
  for (const Received& r : received) sawQuery = sawQuery || r.target == "/other?x=1";
  EXPECT_TRUE(sawQuery);

  // Retired requests are deleted by the sweep once their workers ended; then the timer stops itself.
  ASSERT_TRUE(loop.RunUntil([&] { return !manager.SweepTimerRunning(); }, 3000));
  EXPECT_EQ(manager.ActiveCount(), 0u);
  EXPECT_EQ(manager.RetiredCount(), 0u);
}

TEST(HttpRequestManager, FailedConnectionStillGivesSentAndFinishedWithStatusZero) {
  OwnerLoop loop;
  RecordingManager manager;
  const std::string urls[] = {
      "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/x",  // refused
      "not a url",                                                // cannot be split
      "ftp://127.0.0.1/file",                                     // not http
  };
  for (const std::string& url : urls) manager.StartRequest(Get(url));
  ASSERT_TRUE(loop.RunUntil([&] { return manager.CountOf(Finished) == 3; }, 5000));
  for (int id = 100; id < 103; ++id) {
    EXPECT_EQ(manager.KindsOf(id), (std::vector<Kind>{Sent, Finished})) << id;
    const Note* note = manager.Last(id, Finished);
    ASSERT_NE(note, nullptr);
    EXPECT_EQ(note->info.statusCode, 0) << id;
    EXPECT_FALSE(note->info.readResult) << id;
    EXPECT_EQ(note->info.requestHandle, nullptr) << id;
    EXPECT_TRUE(note->body.empty()) << id;
  }
}

TEST(HttpRequestManager, VerbsBodiesRangeAndExtraHeaders) {
  struct Case {
    int verb;
    std::string postData;
    int rangeStart;
    std::string method;
    std::string range;
  };
  const Case cases[] = {
      {0, "", 0, "GET", ""},  {7, "", 0, "GET", ""},    {1, "a=1", 0, "POST", ""},
      {2, "", 0, "POST", ""}, {3, "", 0, "DELETE", ""}, {0, "", 1000, "GET", "bytes=1000-"},
  };
  RecordingServer server;
  OwnerLoop loop;
  RecordingManager manager;
  for (const Case& c : cases) {
    HttpRequestHeader header = Get(server.Url("/v"));
    header.verb = c.verb;
    header.postData = c.postData;
    header.rangeStart = c.rangeStart;
    header.extraHeaders = "X-Trace: one\r\nX-Other: two\r\n";
    manager.StartRequest(header);
  }
  const size_t n = sizeof cases / sizeof cases[0];
  ASSERT_TRUE(loop.RunUntil([&] { return manager.CountOf(Finished) == n; }, 5000));
  auto received = server.Requests();
  ASSERT_EQ(received.size(), n);
  // Requests run in parallel: match them by their verb, body and range.
  std::multimap<std::string, Received> byKey;
  for (const Received& r : received) byKey.emplace(r.method + "|" + r.body + "|" + r.Header("Range"), r);
  for (const Case& c : cases) {
    auto it = byKey.find(c.method + "|" + c.postData + "|" + c.range);
    ASSERT_NE(it, byKey.end()) << c.verb << " " << c.rangeStart;
    EXPECT_EQ(it->second.Header("X-Trace"), "one");
    EXPECT_EQ(it->second.Header("X-Other"), "two");
    EXPECT_EQ(it->second.Header("User-Agent"), DefaultUserAgent());
    byKey.erase(it);
  }
}

TEST(HttpRequestManager, RangeLineFollowsExtraHeadersOnTheWire) {
  RawServer server("HTTP/1.1 206 Partial Content\r\nContent-Length: 3\r\n\r\nabc");
  OwnerLoop loop;
  RecordingManager manager;
  HttpRequestHeader header = Get("http://127.0.0.1:" + std::to_string(server.Port()) + "/pkg.zip");
  header.extraHeaders = "X-Trace: one\r\n";
  header.rangeStart = 1000;
  manager.StartRequest(header);
  ASSERT_TRUE(loop.RunUntil([&] { return manager.CountOf(Finished) == 1; }, 5000));
  std::string head = server.Head();
  EXPECT_EQ(head.rfind("GET /pkg.zip HTTP/1.1\r\n", 0), 0u) << head;
  size_t trace = head.find("X-Trace: one\r\n");
  size_t range = head.find("Range: bytes=1000-\r\n");
  ASSERT_NE(trace, std::string::npos) << head;
  ASSERT_NE(range, std::string::npos) << head;
  EXPECT_LT(trace, range);
  const Note* note = manager.Last(100, Finished);
  ASSERT_NE(note, nullptr);
  EXPECT_EQ(note->info.statusCode, 206);
  EXPECT_EQ(note->body, "abc");
}

TEST(HttpRequestManager, ResponseWithoutContentLengthLeavesItZero) {
  RawServer server("HTTP/1.0 200 OK\r\nServer: raw\r\n\r\nbody until close");
  OwnerLoop loop;
  RecordingManager manager;
  manager.StartRequest(Get("http://127.0.0.1:" + std::to_string(server.Port()) + "/"));
  ASSERT_TRUE(loop.RunUntil([&] { return manager.CountOf(Finished) == 1; }, 5000));
  const Note* note = manager.Last(100, Finished);
  ASSERT_NE(note, nullptr);
  EXPECT_EQ(note->info.statusCode, 200);
  EXPECT_EQ(note->info.contentLength, 0);
  EXPECT_EQ(note->info.server, "raw");
  EXPECT_EQ(note->body, "body until close");
  EXPECT_TRUE(note->info.readResult);
}

TEST(HttpRequestManager, ExplicitProxyReceivesTheAbsoluteRequest) {
  RawServer proxy("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
  OwnerLoop loop;
  RecordingManager manager;
  HttpRequestHeader header = Get("http://telemetry.invalid:8080/api/x?a=1");
  header.proxyHost = "127.0.0.1";
  header.proxyPort = proxy.Port();
  header.proxyUserName = "user";
  header.proxyPassword = "secret";
  manager.StartRequest(header);
  ASSERT_TRUE(loop.RunUntil([&] { return manager.CountOf(Finished) == 1; }, 5000));
  std::string head = proxy.Head();
  EXPECT_EQ(head.rfind("GET http://telemetry.invalid:8080/api/x?a=1 HTTP/1.1\r\n", 0), 0u) << head;
  EXPECT_NE(head.find("Proxy-Authorization: Basic dXNlcjpzZWNyZXQ=\r\n"), std::string::npos) << head;
  EXPECT_EQ(manager.Last(100, Finished)->body, "ok");
}

TEST(HttpRequestManager, TimeoutCallsOnRequestTimeoutOnceAndNeverFinished) {
  SilentServer server;
  OwnerLoop loop;
  RecordingManager manager;
  HttpRequestHeader header = Get(server.Url("/never"));
  header.timeoutMs = 5000;
  auto start = Clock::now();
  manager.StartRequest(header);
  ASSERT_TRUE(loop.RunUntil([&] { return manager.CountOf(TimedOut) == 1; }, 8000));
  EXPECT_GE(MsSince(start), 4900);
  EXPECT_EQ(manager.ActiveCount(), 0u);
  // The blocked worker is interrupted on retirement; the sweep deletes the request afterwards and
  // its late events are ignored.
  ASSERT_TRUE(loop.RunUntil([&] { return !manager.SweepTimerRunning(); }, 3000));
  EXPECT_EQ(manager.RetiredCount(), 0u);
  EXPECT_EQ(manager.CountOf(TimedOut), 1u);
  EXPECT_EQ(manager.CountOf(Finished), 0u);
}

TEST(HttpRequestManager, DestructionWithBlockedTransfersIsBoundedAndSilent) {
  SilentServer server;
  RecordingServer answering;
  OwnerLoop loop;
  auto manager = std::make_unique<RecordingManager>();
  for (int i = 0; i < 4; ++i) manager->StartRequest(Get(server.Url("/never")));
  // One more from another thread, handed over but never adopted (the context is not iterated).
  std::thread([&] { manager->StartRequest(Get(server.Url("/never"))); }).join();
  // Let the transfers block in their reads: the silent server took the requests.
  loop.RunUntil([] { return false; }, 200);
  EXPECT_EQ(manager->CountOf(Finished), 0u);

  auto start = Clock::now();
  manager.reset();
  EXPECT_LT(MsSince(start), 3500);
  // Nothing reaches the destroyed owner afterwards.
  loop.RunUntil([] { return false; }, 100);
}

TEST(HttpRequestManager, RequestsGoOutFromAnyThreadWithoutARunningLoop) {
  RecordingServer server;
  OwnerLoop loop;
  RecordingManager manager;
  std::atomic<int> otherId{0};
  std::thread other([&] { otherId = manager.StartRequest(Get(server.Url("/from-worker"))); });
  other.join();
  int ownId = manager.StartRequest(Get(server.Url("/from-owner")));
  EXPECT_EQ(otherId.load(), 100);
  EXPECT_EQ(ownId, 101);
  // The owner's context has not been iterated: the workers still do the I/O.
  ASSERT_TRUE(server.WaitForCount(2, 5000));
  EXPECT_TRUE(manager.notes.empty());
  // Notifications wait in the queue and then arrive on the owner's thread.
  ASSERT_TRUE(loop.RunUntil([&] { return manager.CountOf(Finished) == 2; }, 5000));
  EXPECT_EQ(manager.KindsOf(100), (std::vector<Kind>{Sent, Finished}));
  for (const Note& note : manager.notes) EXPECT_EQ(note.thread, std::this_thread::get_id());
}

TEST(HttpRequestManager, RequestsFromOtherThreadsAreHandedToTheOwnerWhileItsLoopRuns) {
  RecordingServer server;
  GMainContext* context = g_main_context_new();
  GMainLoop* mainLoop = g_main_loop_new(context, FALSE);
  std::unique_ptr<RecordingManager> manager;
  std::promise<void> ready;
  std::thread::id uiThread;
  std::vector<Note> notes;
  bool sweepStopped = false;

  std::thread ui([&] {
    g_main_context_push_thread_default(context);
    manager = std::make_unique<RecordingManager>();
    uiThread = std::this_thread::get_id();
    GSource* started = g_idle_source_new();  // ready once the loop holds the context
    g_source_set_callback(
        started,
        [](gpointer p) -> gboolean {
          static_cast<std::promise<void>*>(p)->set_value();
          return G_SOURCE_REMOVE;
        },
        &ready, nullptr);
    g_source_attach(started, context);
    g_source_unref(started);
    g_main_loop_run(mainLoop);
    OwnerLoop::Wait(
        context, [&] { return !manager->SweepTimerRunning(); }, 3000);
    sweepStopped = !manager->SweepTimerRunning() && manager->RetiredCount() == 0;
    notes = manager->notes;
    manager.reset();
    g_main_context_pop_thread_default(context);
  });
  ready.get_future().wait();

  std::vector<int> ids;
  std::mutex idsMutex;
  std::vector<std::thread> senders;
  for (int t = 0; t < 2; ++t)
    senders.emplace_back([&] {
      for (int i = 0; i < 5; ++i) {
        int id = manager->StartRequest(Get(server.Url("/hello")));
        std::lock_guard<std::mutex> lock(idsMutex);
        ids.push_back(id);
      }
    });
  for (auto& sender : senders) sender.join();
  auto start = Clock::now();
  while (manager->finished.load() < 10 && MsSince(start) < 5000)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  g_main_loop_quit(mainLoop);
  ui.join();
  g_main_loop_unref(mainLoop);
  g_main_context_unref(context);

  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(ids, (std::vector<int>{100, 101, 102, 103, 104, 105, 106, 107, 108, 109}));
  ASSERT_EQ(notes.size(), 20u);
  for (const Note& note : notes) {
    EXPECT_EQ(note.thread, uiThread);
    if (note.kind == Finished) {
      EXPECT_EQ(note.body, "hello world");
    }
  }
  EXPECT_TRUE(sweepStopped);
}

TEST(HttpRequestManager, RedirectToAnotherServerIsFollowedWithOneSentNotification) {
  RecordingServer first, second;
  OwnerLoop loop;
  RecordingManager manager;
  manager.StartRequest(Get(first.Url("/moved?to=" + second.Url("/hello"))));
  ASSERT_TRUE(loop.RunUntil([&] { return manager.CountOf(Finished) == 1; }, 5000));
  EXPECT_EQ(manager.KindsOf(100), (std::vector<Kind>{Sent, Finished}));
  const Note* sent = manager.Last(100, Sent);
  ASSERT_NE(sent, nullptr);
  EXPECT_EQ(sent->info.statusCode, 200);
  EXPECT_EQ(sent->info.server, "loopback-test");
  EXPECT_EQ(manager.Last(100, Finished)->body, "hello world");
  EXPECT_EQ(first.Count(), 1u);
  EXPECT_EQ(second.Count(), 1u);
}

TEST(HttpRequestManager, SchemePortAndPath) {
  struct Case {
    std::string url;
    bool https;
    int port;
    std::string path;
  };
  const std::string closed = std::to_string(ClosedPort());
  const Case cases[] = {
      {"http://127.0.0.1:" + closed + "/a/b?c=d#frag", false, std::stoi(closed), "/a/b?c=d"},
      {"https://127.0.0.1:" + closed + "/x", true, std::stoi(closed), "/x"},
      {"https://127.0.0.1", true, 443, "/"},
      {"HTTP://127.0.0.1/y", false, 80, "/y"},
  };
  OwnerLoop loop;
  struct Seen {
    bool https;
    int port;
    std::string path;
  };
  struct Inspector : RecordingManager {
    std::map<int, Seen> seen;
    void OnRequestSent(FCHttpRequest& r) override {
      seen[r.Id()] = Seen{r.IsHttps(), r.Port(), r.ObjectPath()};
      RecordingManager::OnRequestSent(r);
    }
  } manager;
  for (const Case& c : cases) manager.StartRequest(Get(c.url));
  ASSERT_TRUE(loop.RunUntil([&] { return manager.CountOf(Finished) == 4; }, 5000));
  int id = 100;
  for (const Case& c : cases) {
    const Seen& s = manager.seen[id++];
    EXPECT_EQ(s.https, c.https) << c.url;
    EXPECT_EQ(s.port, c.port) << c.url;
    EXPECT_EQ(s.path, c.path) << c.url;
  }
}

// Environment proxy settings, restored afterwards.
class ProxyEnvironment {
 public:
  ProxyEnvironment() {
    for (const char* name : kNames) {
      const char* value = std::getenv(name);
      saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
      unsetenv(name);
    }
  }
  ~ProxyEnvironment() {
    for (const auto& [name, value] : saved_) {
      if (value)
        setenv(name.c_str(), value->c_str(), 1);
      else
        unsetenv(name.c_str());
    }
  }

 private:
  static constexpr const char* kNames[] = {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy",
                                           "ALL_PROXY",  "no_proxy",    "NO_PROXY"};
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST(HttpRequestManager, SystemProxyFromTheEnvironment) {
  ProxyEnvironment environment;
  RawServer proxy("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nproxy");
  RecordingServer direct;
  setenv("http_proxy", ("127.0.0.1:" + std::to_string(proxy.Port())).c_str(), 1);
  setenv("no_proxy", "skipped.invalid,.example.invalid", 1);
  OwnerLoop loop;
  RecordingManager manager;
  manager.StartRequest(Get("http://telemetry.invalid/api/x"));                                  // through the proxy
  manager.StartRequest(Get(direct.Url("/hello")));                                              // loopback: direct
  manager.StartRequest(Get("http://a.example.invalid:" + std::to_string(ClosedPort()) + "/"));  // no_proxy
  ASSERT_TRUE(loop.RunUntil([&] { return manager.CountOf(Finished) == 3; }, 8000))
      << manager.KindsOf(100).size() << manager.KindsOf(101).size() << manager.KindsOf(102).size();
  EXPECT_EQ(proxy.Head().rfind("GET http://telemetry.invalid/api/x HTTP/1.1\r\n", 0), 0u) << proxy.Head();
  EXPECT_EQ(manager.Last(100, Finished)->body, "proxy");
  EXPECT_EQ(manager.Last(101, Finished)->body, "hello world");
  EXPECT_EQ(manager.Last(102, Finished)->info.statusCode, 0);  // not sent to the proxy: no such host
}

// A transfer that Abort cannot interrupt (blocked on the body's lock, which the owner holds):
// the destructor gives up after the shutdown wait, and the straggler later ends on its own
// without touching the destroyed manager.
TEST(HttpRequestManager, DestructionGivesUpOnAStragglerAfterTheShutdownWait) {
  std::mutex mutex;
  std::condition_variable changed;
  bool release = false, written = false;
  httplib::Server server;
  server.Get("/stall", [&](const httplib::Request&, httplib::Response& res) {
    res.set_chunked_content_provider("text/plain", [&](size_t, httplib::DataSink& sink) {
      std::unique_lock<std::mutex> lock(mutex);
      changed.wait_for(lock, std::chrono::seconds(10), [&] { return release; });
      sink.write("late body", 9);
      written = true;
      changed.notify_all();
      lock.unlock();
      sink.done();
      return true;
    });
  });
  int port = server.bind_to_any_port("127.0.0.1");
  std::thread serving([&] { server.listen_after_bind(); });

  struct LockingManager : RecordingManager {
    FCHttpRequest* held = nullptr;
    void OnRequestSent(FCHttpRequest& r) override {
      r.ReceiveBuffer().Lock();  // as an owner reading the body while the transfer runs
      held = &r;
    }
  };
  OwnerLoop loop;
  auto manager = std::make_unique<LockingManager>();
  manager->StartRequest(Get("http://127.0.0.1:" + std::to_string(port) + "/stall"));
  ASSERT_TRUE(loop.RunUntil([&] { return manager->held != nullptr; }, 5000));
  FCHttpRequest* request = manager->held;
  {
    std::unique_lock<std::mutex> lock(mutex);
    release = true;
    changed.notify_all();
    ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(5), [&] { return written; }));
  }
  // The transfer thread counts the bytes, then waits for the lock.
  auto start = Clock::now();
  while (request->ReceivedBytes() == 0 && MsSince(start) < 5000) std::this_thread::yield();
  ASSERT_EQ(request->ReceivedBytes(), 9);

  start = Clock::now();
  manager.reset();
  long long elapsed = MsSince(start);
  EXPECT_GE(elapsed, 2900);
  EXPECT_LT(elapsed, 3600);

  // The straggler still owns its request: let it finish, and nothing is delivered.
  request->ReceiveBuffer().Unlock();
  loop.RunUntil([] { return false; }, 200);
  server.stop();
  serving.join();
}
