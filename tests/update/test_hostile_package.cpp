// The update pipeline against a hostile or broken network and configuration, driven through the
// whole worker: a configuration body without end, package transfers cut, reset, stalled or
// answered with errors (retried, then failed), packages whose hash or signature is wrong or
// missing, a stale package of another version, a launcher closed during the extraction, and
// archive modes against the umask.
#include <netinet/in.h>
#include <openssl/evp.h>
#include <poll.h>
#include <strings.h>
#include <sys/fsuid.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <future>
#include <limits>

#include <minizip/zip.h>
#include <zlib.h>

#include "Identity.h"
#include "UpdateTestSupport.h"
#include "os/FileSystem.h"
#include "os/Umask.h"
#include "support/Loopback.h"
#include "update/PackageExtractor.h"
#include "update/PackageStager.h"
#include "update/ResumeState.h"

namespace {

using namespace std::chrono_literals;

const char kDownload[] = "CGameRemoteConfig::OnDownLoad";
const char kWorker[] = "CGameRemoteConfig::InitRemoteConfig";
const std::vector<std::string> kDownloadFailed{"更新失败,请检查网络:104", "更新失败,请检查网络:103"};

// What the package server does with one request; after the script it serves normally.
struct Step {
  enum Act { Serve, IgnoreRange, Cut, Reset, Stall, Status } act = Serve;
  size_t bytes = 0;  // Cut, Reset, Stall: body bytes sent first; Status: the status
};

// A package server on raw sockets, so that a test decides exactly how each answer ends: with all
// its bytes, cut (FIN), reset (RST), stalled with the connection open, or as an error page.
class ScriptedServer {
 public:
  ScriptedServer(std::string body, std::vector<Step> script) : body_(std::move(body)), script_(std::move(script)) {
    fd_ = ListenOnLoopback(16, &port_);
    thread_ = std::thread([this] {
      for (size_t i = 0;; ++i) {
        int client = accept(fd_, nullptr, nullptr);
        if (client < 0) return;
        Answer(client, i < script_.size() ? script_[i] : Step{});
        close(client);
      }
    });
  }
  ~ScriptedServer() {
    stopping_ = true;
    shutdown(fd_, SHUT_RDWR);
    thread_.join();
    close(fd_);
  }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/harlu7/1.0.3.7/p.zip"; }
  std::vector<std::string> Ranges() {
    std::lock_guard<std::mutex> lock(mutex_);
    return ranges_;
  }

 private:
  void Answer(int client, const Step& step) {
    std::string head;
    char buf[4096];
    while (head.find("\r\n\r\n") == std::string::npos) {
      ssize_t n = recv(client, buf, sizeof buf, 0);
      if (n <= 0) return;
      head.append(buf, static_cast<size_t>(n));
    }
    std::string range;
    for (size_t at = head.find("\r\n"); at != std::string::npos && at + 2 < head.size(); at = head.find("\r\n", at + 2))
      if (strncasecmp(head.c_str() + at + 2, "Range: ", 7) == 0)
        range = head.substr(at + 9, head.find("\r\n", at + 2) - at - 9);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ranges_.push_back(range);
    }
    if (step.act == Step::Status) {
      const std::string page = "<html>no</html>";
      Send(client, "HTTP/1.1 " + std::to_string(step.bytes) + " Error\r\nContent-Length: " +
                       std::to_string(page.size()) + "\r\nConnection: close\r\n\r\n" + page);
      return;
    }
    size_t from = 0;
    if (step.act != Step::IgnoreRange && range.rfind("bytes=", 0) == 0) from = std::stoul(range.substr(6));
    std::string answer = from > 0
                             ? "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + std::to_string(from) + "-" +
                                   std::to_string(body_.size() - 1) + "/" + std::to_string(body_.size()) + "\r\n"
                             : std::string("HTTP/1.1 200 OK\r\n");
    answer += "Content-Length: " + std::to_string(body_.size() - from) + "\r\nConnection: close\r\n\r\n";
    const size_t sent = step.act == Step::Serve || step.act == Step::IgnoreRange ? body_.size() - from : step.bytes;
    Send(client, answer + body_.substr(from, sent));
    if (step.act == Step::Reset) {
      std::this_thread::sleep_for(50ms);  // the bytes arrive before the reset
      linger hard{1, 0};
      setsockopt(client, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    } else if (step.act == Step::Stall) {
      // The connection stays open, silent, until the client gives up.
      pollfd p{client, POLLIN, 0};
      while (!stopping_ && poll(&p, 1, 50) >= 0 && !(p.revents & (POLLIN | POLLHUP))) {
      }
    } else {
      shutdown(client, SHUT_WR);
      while (recv(client, buf, sizeof buf, 0) > 0) {
      }
    }
  }
  static void Send(int client, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
      ssize_t n = send(client, data.data() + done, data.size() - done, MSG_NOSIGNAL);
      if (n <= 0) return;
      done += static_cast<size_t>(n);
    }
  }

  const std::string body_;
  const std::vector<Step> script_;
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> ranges_;
};

// An Ed25519 key pair of the test's own, signing as the package publisher does.
class SigningKey {
 public:
  SigningKey() : key_(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519")) {}
  ~SigningKey() { EVP_PKEY_free(key_); }
  SigningKey(const SigningKey&) = delete;
  SigningKey& operator=(const SigningKey&) = delete;

  std::string PublicHex() const {
    unsigned char raw[32];
    size_t size = sizeof raw;
    EVP_PKEY_get_raw_public_key(key_, raw, &size);
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char b : raw) hex += {kDigits[b >> 4], kDigits[b & 15]};
    return hex;
  }
  // The standard base64 of the signature over "<game>|<channel>|<version>|<digest hex>".
  std::string Sign(const std::string& digestHex, const std::string& version = "1.0.3.7",
                   const std::string& game = identity::GameShortName) const {
    const std::string text = game + "|" + identity::ChannelName + "|" + version + "|" + digestHex;
    unsigned char signature[64];
    size_t size = sizeof signature;
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    EVP_DigestSignInit(ctx, nullptr, nullptr, nullptr, key_);
    EVP_DigestSign(ctx, signature, &size, reinterpret_cast<const unsigned char*>(text.data()), text.size());
    EVP_MD_CTX_free(ctx);
    unsigned char encoded[89] = {};
    EVP_EncodeBlock(encoded, signature, 64);
    return reinterpret_cast<char*>(encoded);
  }

 private:
  EVP_PKEY* key_;
};

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

class HostilePackage : public UpdateTest {
 protected:
  void SetUp() override {
    UpdateTest::SetUp();
    UpdateState& state = Ctx().updateState;
    state.retryWaits = {20ms, 40ms, 80ms};
    state.packageStallLimit = 300ms;
  }

  // ~200 KB that does not compress, in a few entries, so cuts land inside the body.
  static const std::string& Package() {
    static const std::string package = BuildZip({{"game/", "", 0},
                                                 {"game/data.bin", RandomBytes(150000, 3), 0},
                                                 {"game/more.bin", RandomBytes(50000, 4), 0},
                                                 {"readme.txt", "the new client", 0}});
    return package;
  }

  // The configuration for a package at url, with extra lines (hash, signature) appended.
  void Configure(TestServer& config, const std::string& url, const std::string& extra = "") {
    ServeConfig(config, "ClientVersion=1.0.3.7\nClientMiniUpdateVersion=1.0.0.5\nClientDownloadUrl=" + url +
                            "\nClient32DownloadUrl=" + url + "\nEntryUrl=http://127.0.0.1/page\n" + extra);
  }

  void WriteState(const std::string& version, int64_t offset, int64_t total) {
    Sandbox::WriteFile(StatePath(), "downloadVersion=" + version + "\noffset=" + std::to_string(offset) +
                                        "\ntotalSize=" + std::to_string(total) + "\n");
  }

  void ExpectInstalled(const RecordingWindow& window, const std::string& readme = "the new client") {
    ASSERT_FALSE(window.Messages().empty());
    EXPECT_EQ(window.Messages().back(), "更新已完成");
    EXPECT_TRUE(window.Has("SetReady"));
    EXPECT_EQ(Sandbox::ReadFile(DataDir() + "/readme.txt"), readme);
    EXPECT_EQ(Sandbox::ReadFile(DataDir() + "/game_client_version.txt"), "1.0.3.7");
    EXPECT_FALSE(os::PathExists(PackagePath()));
  }

  // Refused: the failed download's messages, nothing extracted, nothing left to resume.
  void ExpectRefused(const RecordingWindow& window) {
    EXPECT_EQ(window.Messages(), kDownloadFailed);
    EXPECT_FALSE(window.Has("SetReady"));
    EXPECT_FALSE(os::PathExists(DataDir() + "/readme.txt"));
    EXPECT_FALSE(os::PathExists(DataDir() + "/game_client_version.txt"));
    EXPECT_FALSE(os::PathExists(PackagePath()));
    EXPECT_EQ(ReadResumeValue(Ctx().layout, "offset"), "0");
    EXPECT_EQ(ReadResumeValue(Ctx().layout, "totalSize"), "0");
  }

  static int Count(const std::string& text, const std::string& needle) {
    int n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
  }
};

// The configuration body is capped: an oversized or endless one is the configuration failure.
TEST_F(HostilePackage, ConfigurationBodyOverTheCapFailsAs102) {
  const size_t cap = 1 << 20;
  struct Case {
    const char* name;
    std::function<void(httplib::Server&)> serve;
    bool fails;
  };
  const std::string line = "Filler=" + std::string(1000, 'x') + "\n";
  const Case cases[] = {
      {"announced over the cap",
       [](httplib::Server& s) {
         s.Get("/config", [](const httplib::Request&, httplib::Response& res) {
           res.set_content(std::string(cap + 1, 'x'), "text/plain");
         });
       },
       true},
      {"endless, never announced",
       [&line](httplib::Server& s) {
         s.Get("/config", [&line](const httplib::Request&, httplib::Response& res) {
           res.set_chunked_content_provider(
               "text/plain", [&line](size_t, httplib::DataSink& sink) { return sink.write(line.data(), line.size()); });
         });
       },
       true},
      {"exactly the cap",
       [](httplib::Server& s) {
         s.Get("/config", [](const httplib::Request&, httplib::Response& res) {
           std::string doc = "EntryUrl=http://127.0.0.1/page\nFiller=";
           doc += std::string(cap - doc.size(), 'x');
           res.set_content(doc, "text/plain");
         });
       },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    TestServer server;
    c.serve(server.Raw());
    SetConfigUrl(server.Url("/config"));
    RecordingWindow window;
    Pipeline().InitRemoteConfig(&window);
    EXPECT_EQ(window.Has("InitWebBrower"), !c.fails);
    if (c.fails) {
      EXPECT_EQ(window.Messages(), std::vector<std::string>{"更新失败,请检查网络:102"});
      EXPECT_TRUE(LogHas(TakeLog(), "ERROR", kWorker, 200, "res:23, httpStatusCode:200"));
    }
  }
}

// A transient failure is tried again from the bytes on disk, up to three more times, with the
// progress going on; only the last failure is the failed download. A refusal is never repeated
// (a range the server cannot continue is started over: ARefusedResumeStartsThePackageAgain).
TEST_F(HostilePackage, TransientFailuresAreRetriedFromTheBytesOnDisk) {
  struct Case {
    const char* name;
    std::vector<Step> script;
    std::vector<std::string> ranges;  // "*": a range of whatever reached the disk
    bool installed;
  };
  const Case cases[] = {
      {"cut short", {{Step::Cut, 50000}}, {"", "bytes=50000-"}, true},
      {"reset", {{Step::Reset, 50000}}, {"", "*"}, true},
      {"stalled", {{Step::Stall, 50000}}, {"", "bytes=50000-"}, true},
      {"503 twice", {{Step::Status, 503}, {Step::Status, 503}}, {"", "", ""}, true},
      {"three kinds, then through",
       {{Step::Cut, 10000}, {Step::Stall, 10000}, {Step::Status, 502}},
       {"", "bytes=10000-", "bytes=20000-", "bytes=20000-"},
       true},
      {"fails four times",
       {{Step::Cut, 10000}, {Step::Cut, 10000}, {Step::Cut, 10000}, {Step::Cut, 10000}},
       {"", "bytes=10000-", "bytes=20000-", "bytes=30000-"},
       false},
      {"cut, then 5xx to the end",
       {{Step::Cut, 10000}, {Step::Status, 503}, {Step::Status, 503}, {Step::Status, 503}},
       {"", "bytes=10000-", "bytes=10000-", "bytes=10000-"},
       false},
      {"404 is final", {{Step::Status, 404}}, {""}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    ScriptedServer packages(Package(), c.script);
    TestServer config;
    Configure(config, packages.Url(), "ClientPackageSha256=" + Sha256Hex(Package()) + "\n");
    RecordingWindow window;
    Pipeline().InitRemoteConfig(&window);

    const std::vector<std::string> ranges = packages.Ranges();
    ASSERT_EQ(ranges.size(), c.ranges.size());
    for (size_t i = 0; i < ranges.size(); ++i) {
      if (c.ranges[i] == "*") {
        EXPECT_EQ(ranges[i].rfind("bytes=", 0), 0u) << ranges[i];
      } else {
        EXPECT_EQ(ranges[i], c.ranges[i]);
      }
    }
    const std::string log = TakeLog();
    // Each further attempt is logged, with why and from where.
    EXPECT_EQ(Count(log, "[" + std::string(kDownload) + "::690] download failed"), static_cast<int>(ranges.size()) - 1)
        << log;
    if (c.installed) {
      ExpectInstalled(window);
    } else {
      // The failed download's path runs once, after the last attempt; the part stays to resume.
      EXPECT_EQ(window.Messages(), kDownloadFailed);
      EXPECT_TRUE(LogHas(log, "INFO", kDownload, 694, "download is error!"));
      EXPECT_EQ(ParseDecimalPrefix64(ReadResumeValue(Ctx().layout, "offset")),
                static_cast<int64_t>(Sandbox::ReadFile(PackagePath()).size()));
      // The package's size, or none when no package answer came: an error page's length is no
      // package size (a next run would take the part for a complete package).
      const int64_t total = ParseDecimalPrefix64(ReadResumeValue(Ctx().layout, "totalSize"));
      EXPECT_TRUE(total == 0 || total == static_cast<int64_t>(Package().size())) << total;
    }
    // The display goes on where the failed attempt left it, never back to 0.
    int last = 0;
    for (const auto& [text, percent] : window.Progress(1)) {
      EXPECT_GE(percent, last) << text;
      last = percent;
    }
  }
}

// Closing the launcher during the wait before a further attempt ends it at once.
TEST_F(HostilePackage, ClosingDuringARetryWaitEndsItAtOnce) {
  ScriptedServer packages(Package(), {{Step::Cut, 10000}});
  TestServer config;
  Configure(config, packages.Url());
  Ctx().updateState.retryWaits = {60s};
  RecordingWindow window;
  auto worker = std::async(std::launch::async, [&] { return Pipeline().InitRemoteConfig(&window); });
  while (packages.Ranges().empty()) std::this_thread::sleep_for(5ms);
  std::this_thread::sleep_for(200ms);  // into the wait
  auto start = std::chrono::steady_clock::now();
  Ctx().updateState.RequestCancel();
  ASSERT_EQ(worker.wait_for(5s), std::future_status::ready);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  EXPECT_EQ(packages.Ranges().size(), 1u);
  EXPECT_EQ(window.Messages(), kDownloadFailed);
}

// The published hash and, in a build with a key, the signature decide whether the package is
// extracted at all; a refused one is deleted and nothing is left to resume.
TEST_F(HostilePackage, HashAndSignature) {
  SigningKey key, otherKey;
  const std::string hash = Sha256Hex(Package());
  const std::string otherHash = Sha256Hex("another package");
  enum Outcome { Installed, RefusedAfterDownload, RefusedUpFront };
  struct Case {
    const char* name;
    bool withKey;
    std::string extra;  // configuration lines
    Outcome outcome;
    int logLine;  // the ERROR line of a refusal, or the INFO line of a verified install (0: none)
  };
  const Case cases[] = {
      {"nothing published, no key", false, "", Installed, 0},
      {"hash", false, "ClientPackageSha256=" + hash + "\n", Installed, 688},
      {"hash in upper case", false, "ClientPackageSha256=" + Upper(hash) + "\n", Installed, 688},
      {"hash with CR LF line end", false, "ClientPackageSha256=" + hash + "\r\n", Installed, 688},
      {"wrong hash", false, "ClientPackageSha256=" + otherHash + "\n", RefusedAfterDownload, 686},
      {"malformed hash", false, "ClientPackageSha256=" + hash.substr(1) + "\n", RefusedUpFront, 661},
      {"hash and signature", true, "ClientPackageSha256=" + hash + "\nClientPackageSignature=" + key.Sign(hash) + "\n",
       Installed, 688},
      {"signature over another digest", true,
       "ClientPackageSha256=" + hash + "\nClientPackageSignature=" + key.Sign(otherHash) + "\n", RefusedAfterDownload,
       687},
      {"signature by another key", true,
       "ClientPackageSha256=" + hash + "\nClientPackageSignature=" + otherKey.Sign(hash) + "\n", RefusedAfterDownload,
       687},
      // The same package, signed when it was offered as an older version or for another game: a
      // replay that would be recorded as the version offered now.
      {"signature for an older version", true,
       "ClientPackageSha256=" + hash + "\nClientPackageSignature=" + key.Sign(hash, "1.0.3.6") + "\n",
       RefusedAfterDownload, 687},
      {"signature for another game", true,
       "ClientPackageSha256=" + hash + "\nClientPackageSignature=" + key.Sign(hash, "1.0.3.7", "other") + "\n",
       RefusedAfterDownload, 687},
      {"signed hash of another package", true,
       "ClientPackageSha256=" + otherHash + "\nClientPackageSignature=" + key.Sign(otherHash) + "\n",
       RefusedAfterDownload, 686},
      {"signature missing", true, "ClientPackageSha256=" + hash + "\n", RefusedUpFront, 661},
      {"hash missing", true, "ClientPackageSignature=" + key.Sign(hash) + "\n", RefusedUpFront, 661},
      {"signature not base64", true,
       "ClientPackageSha256=" + hash + "\nClientPackageSignature=" + key.Sign(hash).substr(4) + "====\n",
       RefusedUpFront, 661},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    if (c.withKey) Ctx().packagePublicKey = key.PublicHex();
    TestServer server;
    server.ServePackage("/p.zip", Package());
    Configure(server, server.Url("/p.zip"), c.extra);
    // Bytes of an earlier run that a refusal must not leave behind either.
    Sandbox::WriteFile(PackagePath(), Package().substr(0, 1000));
    WriteState("1.0.3.7", 1000, static_cast<int64_t>(Package().size()));
    RecordingWindow window;
    Pipeline().InitRemoteConfig(&window);

    EXPECT_EQ(server.PackageRanges().size(), c.outcome == RefusedUpFront ? 0u : 1u);
    if (c.outcome == Installed) {
      ExpectInstalled(window);
    } else {
      ExpectRefused(window);
    }
    const std::string log = TakeLog();
    if (c.logLine == 686) {
      EXPECT_TRUE(
          LogHas(log, "ERROR", kDownload, 686, "package sha256 mismatch: expected " + otherHash + ", got " + hash));
    } else if (c.logLine == 687) {
      EXPECT_TRUE(LogHas(log, "ERROR", kDownload, 687, "package signature does not verify: sha256 " + hash));
    } else if (c.logLine == 661) {
      EXPECT_NE(log.find("[ERROR][" + std::string(kDownload) + "::661] package refused: "), std::string::npos) << log;
    } else if (c.logLine == 688) {
      EXPECT_TRUE(LogHas(log, "INFO", kDownload, 688,
                         "package verified: sha256 " + hash + (c.withKey ? ", signature good" : "")));
    }
  }
}

// A resumed download's digest covers the bytes that were already on disk: a part altered there
// is caught although every byte that came over the network is right.
TEST_F(HostilePackage, ResumedDigestCoversThePartOnDisk) {
  for (bool tampered : {false, true}) {
    SCOPED_TRACE(tampered ? "part on disk altered" : "part on disk intact");
    SetUp();
    TestServer server;
    server.ServePackage("/p.zip", Package());
    Configure(server, server.Url("/p.zip"), "ClientPackageSha256=" + Sha256Hex(Package()) + "\n");
    std::string part = Package().substr(0, 60000);
    if (tampered) part[30000] = static_cast<char>(part[30000] ^ 0x55);
    Sandbox::WriteFile(PackagePath(), part);
    WriteState("1.0.3.7", 60000, static_cast<int64_t>(Package().size()));
    RecordingWindow window;
    Pipeline().InitRemoteConfig(&window);
    EXPECT_EQ(server.PackageRanges(), std::vector<std::string>{"bytes=60000-"});
    if (tampered) {
      ExpectRefused(window);
    } else {
      ExpectInstalled(window);
    }
  }
}

// A complete package left by an earlier run is only extracted when it is the version offered now
// (and passes the check); otherwise the offered one is downloaded. After an installation nothing
// claims a package that is gone.
TEST_F(HostilePackage, StalePackage) {
  const std::string oldPackage = BuildZip({{"readme.txt", "the old client", 0}});
  const int64_t oldSize = static_cast<int64_t>(oldPackage.size());
  struct Case {
    const char* name;
    std::string stateVersion;
    std::string extra;
    bool downloads;
    std::string readme;
  };
  const Case cases[] = {
      {"older version left complete", "1.0.3.6", "", true, "the new client"},
      {"offered version left complete", "1.0.3.7", "", false, "the old client"},
      {"offered version, but not the published package", "1.0.3.7",
       "ClientPackageSha256=" + Sha256Hex(Package()) + "\n", true, "the new client"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    TestServer server;
    server.ServePackage("/p.zip", Package());
    Configure(server, server.Url("/p.zip"), c.extra);
    Sandbox::WriteFile(DataDir() + "/game_client_version.txt", "1.0.0.1");
    Sandbox::WriteFile(PackagePath(), oldPackage);
    WriteState(c.stateVersion, oldSize, oldSize);
    RecordingWindow window;
    Pipeline().InitRemoteConfig(&window);

    EXPECT_EQ(server.PackageRanges().size(), c.downloads ? 1u : 0u);
    ExpectInstalled(window, c.readme);
    SaveResumeState(Ctx().updateState, Ctx().layout);  // as every way out does
    EXPECT_EQ(ReadResumeValue(Ctx().layout, "offset"), "0");
    EXPECT_EQ(ReadResumeValue(Ctx().layout, "totalSize"), "0");
  }
}

// Closing the launcher during the extraction: the closing side waits until the extraction has
// stopped (at its next block), the version record stays unwritten and the package in place, and
// the next run extracts it again without downloading.
TEST_F(HostilePackage, ClosedDuringExtractionExtractsAgainNextRun) {
  std::vector<ZipEntry> entries;
  for (int i = 0; i < 40; ++i) entries.push_back({"part" + std::to_string(i) + ".bin", RandomBytes(40000, i + 1), 0});
  entries.push_back({"readme.txt", "the new client", 0});
  const std::string package = BuildZip(entries);
  TestServer server;
  server.ServePackage("/p.zip", package);
  Configure(server, server.Url("/p.zip"));

  // A window whose first extraction progress holds the worker inside the extraction a while.
  class SlowWindow : public RecordingWindow {
   public:
    void SetProgress(const std::string& message, const std::string& text, int percent, int downloading) override {
      RecordingWindow::SetProgress(message, text, percent, downloading);
      if (downloading == 0 && text == "1/41") {
        inside = true;
        std::this_thread::sleep_for(300ms);
      }
    }
    std::atomic<bool> inside{false};
  } window;
  auto worker = std::async(std::launch::async, [&] { return Pipeline().InitRemoteConfig(&window); });
  while (!window.inside) std::this_thread::sleep_for(1ms);

  auto start = std::chrono::steady_clock::now();
  UpdateState& state = Ctx().updateState;
  state.RequestCancel();
  EXPECT_TRUE(state.WaitWhileExtracting(5s)) << "the extraction did not stop at its next block";
  EXPECT_GE(std::chrono::steady_clock::now() - start, 200ms) << "did not wait for the extraction";
  EXPECT_FALSE(state.BeginExtraction()) << "an extraction could start after the close";
  ASSERT_EQ(worker.wait_for(5s), std::future_status::ready);

  EXPECT_FALSE(os::PathExists(DataDir() + "/readme.txt"));
  EXPECT_FALSE(os::PathExists(DataDir() + "/game_client_version.txt"));
  EXPECT_EQ(Sandbox::ReadFile(PackagePath()), package);
  EXPECT_FALSE(window.Has("SetReady"));
  EXPECT_TRUE(LogHas(TakeLog(), "INFO", "CGameRemoteConfig::UnzipFile", 756, "unzip stopped, the launcher is closing"));
  SaveResumeState(state, Ctx().layout);

  StartNextRun();
  RecordingWindow next;
  Pipeline().InitRemoteConfig(&next);
  EXPECT_EQ(server.PackageRanges().size(), 1u);  // still only the first run's download
  EXPECT_EQ(Sandbox::ReadFile(DataDir() + "/part39.bin"), RandomBytes(40000, 40));
  ExpectInstalled(next);
}

// Closing the launcher while the package an earlier run completed is being checked: the check
// stops, the package is neither deleted nor extracted nor reported as a failure, and the next run
// checks and extracts it without downloading.
TEST_F(HostilePackage, ClosedDuringTheOldPackagesCheckKeepsItForTheNextRun) {
  TestServer server;
  server.ServePackage("/p.zip", Package());
  Configure(server, server.Url("/p.zip"), "ClientPackageSha256=" + Sha256Hex(Package()) + "\n");
  Sandbox::WriteFile(DataDir() + "/game_client_version.txt", "1.0.0.1");
  Sandbox::WriteFile(PackagePath(), Package());
  const int64_t size = static_cast<int64_t>(Package().size());
  WriteState("1.0.3.7", size, size);

  // The player closes the launcher right after the configuration arrived.
  class ClosingWindow : public RecordingWindow {
   public:
    explicit ClosingWindow(UpdateState& state) : state_(state) {}
    void InitWebBrower() override {
      RecordingWindow::InitWebBrower();
      state_.RequestCancel();
    }

   private:
    UpdateState& state_;
  } window(Ctx().updateState);
  Pipeline().InitRemoteConfig(&window);

  EXPECT_TRUE(window.Messages().empty()) << window.Messages().front();
  EXPECT_EQ(Sandbox::ReadFile(PackagePath()), Package());
  EXPECT_FALSE(os::PathExists(DataDir() + "/readme.txt"));
  EXPECT_EQ(Sandbox::ReadFile(DataDir() + "/game_client_version.txt"), "1.0.0.1");
  const std::string log = TakeLog();
  EXPECT_TRUE(
      LogHas(log, "INFO", "CGameRemoteConfig::OnDownLoad", 604, "package check stopped, the launcher is closing"))
      << log;
  EXPECT_EQ(log.find("download error"), std::string::npos) << log;
  SaveResumeState(Ctx().updateState, Ctx().layout);
  EXPECT_EQ(ReadResumeValue(Ctx().layout, "offset"), std::to_string(size));

  StartNextRun();
  RecordingWindow next;
  Pipeline().InitRemoteConfig(&next);
  EXPECT_TRUE(server.PackageRanges().empty());
  ExpectInstalled(next);
}

// Modes stored in an archive never give more than the umask allows, nor set-id bits.
TEST_F(HostilePackage, ExtractedModesHonourTheUmask) {
  struct Case {
    mode_t umask;
    unsigned stored;
    mode_t expected;
  };
  const Case cases[] = {
      {022, 0777, 0755}, {077, 0755, 0700}, {002, 0664, 0664}, {022, 04777, 0755}, {027, 0666, 0640},
  };
  const mode_t saved = ::umask(022);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.umask) + " " + std::to_string(c.stored));
    SetUp();
    ::umask(c.umask);
    Sandbox::WriteFile(PackagePath(), BuildZip({{"run.sh", "#!/bin/sh\n", c.stored}}));
    EXPECT_EQ(PackageExtractor(DataDir()).Extract(PackagePath()), PackageExtractor::Result::Done);
    struct stat st {};
    ASSERT_EQ(stat((DataDir() + "/run.sh").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.expected);
  }
  ::umask(saved);
}

// A server that cannot continue a saved part (the package was replaced by a smaller one under the
// same version: 416; or the server ignores ranges: 200) would fail every later run at the same
// offset: the part and its state go, and the package starts again from byte 0 in the same run.
TEST_F(HostilePackage, ARefusedResumeStartsThePackageAgain) {
  const int64_t size = static_cast<int64_t>(Package().size());
  struct Case {
    const char* name;
    bool ignoreRange;
    int64_t savedOffset;  // the bytes on disk, and the offset the state names
  };
  const Case cases[] = {
      {"416: the offset is past a smaller package", false, size + 1000},
      {"200 to a range request", true, 1000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    TestServer server;
    server.ServePackage("/p.zip", Package(), c.ignoreRange);
    Configure(server, server.Url("/p.zip"), "ClientPackageSha256=" + Sha256Hex(Package()) + "\n");
    Sandbox::WriteFile(PackagePath(), RandomBytes(static_cast<size_t>(c.savedOffset), 9));
    WriteState("1.0.3.7", c.savedOffset, size + 5000);
    RecordingWindow window;
    Pipeline().InitRemoteConfig(&window);

    const std::string range = "bytes=" + std::to_string(c.savedOffset) + "-";
    EXPECT_EQ(server.PackageRanges(), (std::vector<std::string>{range, ""}));
    ExpectInstalled(window);
    const std::string log = TakeLog();
    EXPECT_NE(log.find("the server cannot continue at byte " + std::to_string(c.savedOffset)), std::string::npos)
        << log;
    EXPECT_TRUE(LogHas(log, "INFO", kDownload, 589, "Try Resuming download from break point."));
  }
}

// A package over the size limit, or one the disk has no room for, is refused when its size is
// announced, before a byte of it is written; no room is the disk's message, not the network's,
// and what was on disk stays for a later run.
TEST_F(HostilePackage, APackageWithoutRoomIsRefusedBeforeAByteIsWritten) {
  struct Case {
    const char* name;
    int64_t limit;
    int64_t announced;  // the Content-Length of the package answer
  };
  // More than any disk here has free; the limit decides which of the two refusals comes first.
  const int64_t huge = int64_t{1} << 50;
  const Case cases[] = {
      {"over the size limit", 100000, static_cast<int64_t>(Package().size())},
      {"over the free space", std::numeric_limits<int64_t>::max(), huge},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    Ctx().updateState.packageSizeLimit = c.limit;
    TestServer server;
    server.Raw().Get("/p.zip", [&](const httplib::Request&, httplib::Response& res) {
      res.set_content_provider(static_cast<size_t>(c.announced), "application/zip",
                               [](size_t offset, size_t, httplib::DataSink& sink) {
                                 if (offset >= Package().size()) return false;
                                 return sink.write(Package().data() + offset, Package().size() - offset);
                               });
    });
    Configure(server, server.Url("/p.zip"));
    RecordingWindow window;
    Pipeline().InitRemoteConfig(&window);

    EXPECT_FALSE(window.Has("SetReady"));
    EXPECT_FALSE(os::PathExists(DataDir() + "/readme.txt"));
    const std::string log = TakeLog();
    if (c.announced == huge) {
      EXPECT_EQ(window.Messages(), std::vector<std::string>{"磁盘空间不足,请清理后重试"});
      ASSERT_TRUE(os::PathExists(PackagePath()));
      EXPECT_EQ(Sandbox::ReadFile(PackagePath()), "");
      EXPECT_NE(log.find("package cannot be written: " + std::string(std::strerror(ENOSPC))), std::string::npos) << log;
    } else {
      EXPECT_EQ(window.Messages(), kDownloadFailed);
      EXPECT_FALSE(os::PathExists(PackagePath()));
      EXPECT_TRUE(LogHas(log, "ERROR", kDownload, 662, "package refused: larger than 100000 bytes"));
    }
    EXPECT_TRUE(LogHas(log, "ERROR", kWorker, 258, "download error"));
  }
}

// A zip whose stored entries claim far more bytes than they hold (4 TiB in all, more than any disk
// here has): its directory is sound, only the room it asks for is not there.
std::string ZipClaimingTerabytes() {
  char name[] = "/tmp/vellmora-zip-XXXXXX";
  close(mkstemp(name));
  zipFile zip = zipOpen64(name, APPEND_STATUS_CREATE);
  for (int i = 0; i < 1000; ++i) {
    zip_fileinfo info{};
    const std::string entry = "huge" + std::to_string(i) + ".bin";
    zipOpenNewFileInZip4_64(zip, entry.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, 0, 0, 1, -MAX_WBITS,
                            DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0, 0, 0, 0);
    zipWriteInFileInZip(zip, "small", 5);
    zipCloseFileInZipRaw64(zip, 0xFFFFFFFEu, 0);
  }
  zipClose(zip, nullptr);
  std::string bytes = Sandbox::ReadFile(name);
  unlink(name);
  return bytes;
}

// The disk refuses the extraction or the version record (no room, a folder where a file goes):
// the player hears about the disk, not the network; the verified package and its resume state
// stay; and once the disk is made good the next run extracts it without downloading.
TEST_F(HostilePackage, ALocalFailureKeepsThePackageForTheNextRun) {
  struct Case {
    const char* name;
    std::string package;
    std::string blocker;  // a folder made where a file goes, removed before the next run
    std::string message;
    const char* function;
    int line;
    std::string logged;
  };
  const std::string isADirectory = std::strerror(EISDIR);
  const Case cases[] = {
      {"a folder where a file of the package goes", Package(), "readme.txt", "无法写入游戏目录,请检查磁盘后重试",
       "CGameRemoteConfig::OnUnzipFile", 470, "cannot write readme.txt: " + isADirectory},
      {"a folder where the version record goes", Package(), "game_client_version.txt",
       "无法写入游戏目录,请检查磁盘后重试", "CGameRemoteConfig::UnzipFile", 745,
       "cannot write the version record: " + isADirectory},
      {"no room for the files", ZipClaimingTerabytes(), "", "磁盘空间不足,请清理后重试",
       "CGameRemoteConfig::OnUnzipFile", 412, "not enough room to unzip: 4294967296000 bytes needed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    TestServer server;
    server.ServePackage("/p.zip", c.package);
    Configure(server, server.Url("/p.zip"), "ClientPackageSha256=" + Sha256Hex(c.package) + "\n");
    if (!c.blocker.empty()) {
      ASSERT_EQ(RunShell("mkdir -p '" + DataDir() + "/" + c.blocker + "/inside'"), 0);
    }
    RecordingWindow window;
    Pipeline().InitRemoteConfig(&window);

    EXPECT_EQ(window.Messages(), std::vector<std::string>{c.message});
    EXPECT_FALSE(window.Has("SetReady"));
    EXPECT_TRUE(Sandbox::ReadFile(PackagePath()) == c.package) << "the package did not stay as it was";
    const std::string log = TakeLog();
    EXPECT_NE(log.find("[ERROR][" + std::string(c.function) + "::" + std::to_string(c.line) + "] " + c.logged),
              std::string::npos)
        << log;
    EXPECT_TRUE(LogHas(log, "ERROR", kWorker, 258, "download error"));
    EXPECT_EQ(Count(log, "更新失败"), 0);
    SaveResumeState(Ctx().updateState, Ctx().layout);  // as every way out does
    EXPECT_EQ(ReadResumeValue(Ctx().layout, "downloadVersion"), "1.0.3.7");
    EXPECT_EQ(ReadResumeValue(Ctx().layout, "offset"), std::to_string(c.package.size()));
    if (c.blocker.empty()) {
      EXPECT_FALSE(os::PathExists(DataDir() + "/huge0.bin"));  // refused before a file was made
      continue;
    }

    ASSERT_EQ(RunShell("rm -rf '" + DataDir() + "/" + c.blocker + "'"), 0);
    StartNextRun();
    RecordingWindow next;
    Pipeline().InitRemoteConfig(&next);
    EXPECT_EQ(server.PackageRanges().size(), 1u);  // still only the first run's download
    ExpectInstalled(next);
  }
}

// A file the last version installed read-only (its stored mode) is replaced by the next version
// for a player without administrator rights: files are written beside their targets and renamed
// over them, so the old file's mode does not matter, and the stored mode is kept again.
TEST_F(HostilePackage, AReadOnlyFileOfTheLastVersionIsReplaced) {
  const mode_t saved = ::umask(022);
  Sandbox::WriteFile(PackagePath(), BuildZip({{"game/", "", 0755}, {"game/readonly.dat", "version two", 0444}}));
  ASSERT_EQ(RunShell("mkdir -p '" + DataDir() + "/game' && printf 'version one' > '" + DataDir() +
                     "/game/readonly.dat' && chmod 0444 '" + DataDir() + "/game/readonly.dat' && chmod 0644 '" +
                     PackagePath() + "' && chown -R 65534 '" + DataDir() + "' && chmod o+x '" + InstallDir() + "'"),
            0);
  for (std::string dir = InstallDir(); dir.size() > 1 && dir != "/tmp"; dir.resize(dir.rfind('/'))) {
    struct stat st {};
    if (stat(dir.c_str(), &st) == 0 && st.st_uid == geteuid()) chmod(dir.c_str(), (st.st_mode & 07777) | S_IXOTH);
  }
  // The files' owner, as the player: root, whom no mode stops, would hide the fault.
  const bool root = geteuid() == 0;
  if (root) setfsgid(65534), setfsuid(65534);
  const PackageExtractor::Result result = PackageExtractor(DataDir()).Extract(PackagePath());
  if (root) setfsuid(0), setfsgid(0);
  ::umask(saved);

  EXPECT_EQ(result, PackageExtractor::Result::Done);
  EXPECT_EQ(Sandbox::ReadFile(DataDir() + "/game/readonly.dat"), "version two");
  struct stat st {};
  ASSERT_EQ(stat((DataDir() + "/game/readonly.dat").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0444u);
  EXPECT_EQ(RunShell("test -z \"$(ls -A '" + DataDir() + "/game' | grep -v '^readonly.dat$')\""), 0)
      << "a temporary file was left beside it";
}

// An exit after the version record but before the package was removed leaves the installed
// version's package and its resume state: the next run is up to date, downloads nothing, and
// removes them.
TEST_F(HostilePackage, AnExitAfterTheRecordLeavesNothingToDownload) {
  TestServer server;
  server.ServePackage("/p.zip", Package());
  ServeConfig(server, "ClientVersion=1.0.3.7\nClientMiniUpdateVersion=1.0.3.7\nClientDownloadUrl=" +
                          server.Url("/p.zip") + "\nEntryUrl=http://127.0.0.1/page\n");
  Sandbox::WriteFile(DataDir() + "/game_client_version.txt", "1.0.3.7");
  Sandbox::WriteFile(PackagePath(), Package());
  const int64_t size = static_cast<int64_t>(Package().size());
  WriteState("1.0.3.7", size, size);
  RecordingWindow window;
  Pipeline().InitRemoteConfig(&window);

  EXPECT_EQ(window.Messages(), std::vector<std::string>{"更新已完成"});
  EXPECT_TRUE(server.PackageRanges().empty());
  EXPECT_FALSE(os::PathExists(PackagePath()));
  SaveResumeState(Ctx().updateState, Ctx().layout);
  EXPECT_EQ(ReadResumeValue(Ctx().layout, "offset"), "0");
  EXPECT_TRUE(LogHas(TakeLog(), "INFO", kWorker, 262, "the installed version's package is removed"));
}

// A window that notes, at every download progress it is shown, whether anything of the package
// has reached the client: while the package downloads its entries are only staged beside it.
class WatchingWindow : public RecordingWindow {
 public:
  explicit WatchingWindow(std::vector<std::string> clientFiles) : clientFiles_(std::move(clientFiles)) {}
  void SetProgress(const std::string& message, const std::string& text, int percent, int downloading) override {
    RecordingWindow::SetProgress(message, text, percent, downloading);
    if (downloading != 1) return;
    for (const std::string& file : clientFiles_)
      if (os::PathExists(file)) seenInClient = file;
  }
  std::string seenInClient;

 private:
  std::vector<std::string> clientFiles_;
};

// The bytes of zip before its central directory (its local entries), for splicing archives.
std::string LocalPart(const std::string& zip) { return zip.substr(0, zip.find("PK\x01\x02")); }

// Staged files reach the client only after the package's hash, its signature and the archive's
// directory have been checked against them. A refused package leaves neither client files nor
// staging; a directory that disagrees with the local headers moves nothing that was staged: the
// package is extracted from its directory as it would have been without the staging.
TEST_F(HostilePackage, NothingStagedReachesTheClientBeforeItsChecks) {
  SigningKey key;
  const std::string hash = Sha256Hex(Package());
  // The local header of readme.txt names another file; the directory keeps the real name.
  std::string renamed = Package();
  renamed.replace(renamed.find("readme.txt"), 10, "evilme.txt");
  // The directory's CRC-32 of readme.txt is not the local header's (nor the data's).
  std::string otherCrc = Package();
  const size_t central = otherCrc.find("PK\x01\x02", otherCrc.rfind("PK\x03\x04"));
  const size_t readmeRecord = otherCrc.rfind("PK\x01\x02", otherCrc.find("readme.txt", central));
  otherCrc[readmeRecord + 16] = static_cast<char>(otherCrc[readmeRecord + 16] ^ 0x5a);
  // A local entry the directory does not list, in front of an archive that holds readme.txt.
  const std::string unlisted = LocalPart(BuildZip({{"unlisted.txt", "not in the directory", 0}})) +
                               BuildZip({{"readme.txt", "the new client", 0}});
  enum Outcome { Refused, Installed, UnzipFailed };
  struct Case {
    const char* name;
    std::string package;
    std::string extra;
    bool withKey;
    Outcome outcome;
    int logLine;  // the line that refused the package or the staged files
    std::string neverInClient;
  };
  const Case cases[] = {
      {"wrong hash", Package(), "ClientPackageSha256=" + Sha256Hex("another package") + "\n", false, Refused, 686,
       DataDir() + "/readme.txt"},
      {"bad signature", Package(),
       "ClientPackageSha256=" + hash + "\nClientPackageSignature=" + key.Sign(hash, "1.0.3.6") + "\n", true, Refused,
       687, DataDir() + "/readme.txt"},
      {"local header naming another file", renamed, "ClientPackageSha256=" + Sha256Hex(renamed) + "\n", false,
       Installed, 761, DataDir() + "/evilme.txt"},
      {"directory CRC-32 not the local header's", otherCrc, "ClientPackageSha256=" + Sha256Hex(otherCrc) + "\n", false,
       UnzipFailed, 761, DataDir() + "/readme.txt"},
      {"local entry the directory lacks", unlisted, "ClientPackageSha256=" + Sha256Hex(unlisted) + "\n", false,
       Installed, 761, DataDir() + "/unlisted.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    if (c.withKey) Ctx().packagePublicKey = key.PublicHex();
    TestServer server;
    server.ServePackage("/p.zip", c.package);
    Configure(server, server.Url("/p.zip"), c.extra);
    WatchingWindow window({DataDir() + "/readme.txt", DataDir() + "/game/data.bin", DataDir() + "/evilme.txt",
                           DataDir() + "/unlisted.txt"});
    Pipeline().InitRemoteConfig(&window);

    EXPECT_EQ(window.seenInClient, "") << "reached the client during the download";
    EXPECT_FALSE(os::PathExists(c.neverInClient));
    EXPECT_FALSE(os::PathExists(Ctx().layout.stagingDir) && c.outcome != UnzipFailed);
    const std::string log = TakeLog();
    // The package was staged while it downloaded: the checks had something to hold back.
    EXPECT_NE(log.find("[INFO][" + std::string(kDownload) + "::671] package staged while downloading"),
              std::string::npos)
        << log;
    switch (c.outcome) {
      case Refused:
        ExpectRefused(window);
        EXPECT_NE(log.find("[ERROR][" + std::string(kDownload) + "::" + std::to_string(c.logLine) + "]"),
                  std::string::npos);
        break;
      case Installed: ExpectInstalled(window); break;
      case UnzipFailed:
        EXPECT_EQ(window.Messages(), (std::vector<std::string>{"解压失败", "更新失败,请检查网络:103"}));
        EXPECT_FALSE(os::PathExists(DataDir() + "/game_client_version.txt"));
        break;
    }
    if (c.logLine == 761) {
      EXPECT_NE(log.find("[ERROR][CGameRemoteConfig::UnzipFile::761] staged files do not match"), std::string::npos)
          << log;
    }
  }
}

// Entries are staged from their local headers while the package downloads, and moved into the
// client with the extraction's lines, progress and modes. The staging ends at an entry it cannot
// read in order: the entries before it are moved in and the rest extracted from the package after
// its download, as one extraction to the player and in the log.
TEST_F(HostilePackage, StagingOrUnzippingAfterTheDownloadGiveTheSameClient) {
  // A zip written by hand: each entry's sizes and CRC-32 in its local header, or after its data
  // (a data descriptor, the form of archives written as a stream).
  struct RawEntry {
    std::string name;
    std::string data;
    int method;  // 0 stored, 8 deflated, others as they come
    bool sizesAfter;
  };
  const auto build = [](const std::vector<RawEntry>& entries) {
    const auto le = [](std::string& out, uint64_t value, int bytes) {
      for (int i = 0; i < bytes; ++i) out += static_cast<char>(value >> (8 * i) & 0xff);
    };
    std::string zip, directory;
    for (const RawEntry& e : entries) {
      std::string data = e.data;
      if (e.method == 8) {
        uLongf size = compressBound(static_cast<uLong>(e.data.size()));
        std::string wrapped(size, '\0');
        compress2(reinterpret_cast<Bytef*>(wrapped.data()), &size, reinterpret_cast<const Bytef*>(e.data.data()),
                  e.data.size(), 6);
        data = wrapped.substr(2, size - 6);  // the raw deflate stream inside the zlib wrapping
      }
      const uint32_t crc = static_cast<uint32_t>(
          crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), static_cast<uInt>(e.data.size())));
      const uint16_t flags = e.sizesAfter ? 8 : 0;
      const uint64_t offset = zip.size();
      std::string local;
      le(local, 0x04034b50, 4), le(local, 20, 2), le(local, flags, 2), le(local, e.method, 2), le(local, 0, 4);
      le(local, e.sizesAfter ? 0 : crc, 4), le(local, e.sizesAfter ? 0 : data.size(), 4);
      le(local, e.sizesAfter ? 0 : e.data.size(), 4), le(local, e.name.size(), 2), le(local, 0, 2);
      zip += local + e.name + data;
      if (e.sizesAfter) le(zip, 0x08074b50, 4), le(zip, crc, 4), le(zip, data.size(), 4), le(zip, e.data.size(), 4);
      le(directory, 0x02014b50, 4), le(directory, 20, 2), le(directory, 20, 2), le(directory, flags, 2);
      le(directory, e.method, 2), le(directory, 0, 4), le(directory, crc, 4), le(directory, data.size(), 4);
      le(directory, e.data.size(), 4), le(directory, e.name.size(), 2), le(directory, 0, 6), le(directory, 0, 2);
      le(directory, 0, 4), le(directory, offset, 4);
      directory += e.name;
    }
    std::string end;
    le(end, 0x06054b50, 4), le(end, 0, 4), le(end, entries.size(), 2), le(end, entries.size(), 2);
    le(end, directory.size(), 4), le(end, zip.size(), 4), le(end, 0, 2);
    return zip + directory + end;
  };
  // Over 8 MiB: known sizes write it past the page cache.
  const std::string big = RandomBytes(9 << 20, 9) + std::string(70000, 'z');
  enum Staged { Whole, Part, None };
  struct Case {
    const char* name;
    std::string package;
    Staged staged;
    bool installs;
    bool withModes = false;
  };
  const Case cases[] = {
      {"deflated and stored entries, folders, modes",
       BuildZip({{"game/", "", 0755},
                 {"game/run", big, 0750},
                 {"game/data.bin", RandomBytes(150000, 3), 0, true},
                 {"readme.txt", "the new client", 0}}),
       Whole, true, true},
      {"deflated entries with their sizes after the data",
       build({{"game/", "", 0, false}, {"game/run", big, 8, true}, {"readme.txt", "the new client", 8, true}}), Whole,
       true},
      {"a stored entry with its sizes after the data, entries after it",
       build({{"game/run", big, 8, false},
              {"readme.txt", "the new client", 0, true},
              {"game/more/notes.txt", "after the stored one", 8, false}}),
       Part, true},
      {"the first entry stored with its sizes after the data",
       build({{"readme.txt", "the new client", 0, true}, {"game/run", big, 8, false}}), None, true},
      {"an entry of a method the launcher cannot inflate",
       build({{"game/run", big, 8, false}, {"readme.txt", "the new client", 12, false}}), Part, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    TestServer server;
    server.ServePackage("/p.zip", c.package);
    Configure(server, server.Url("/p.zip"), "ClientPackageSha256=" + Sha256Hex(c.package) + "\n");
    RecordingWindow window;
    Pipeline().InitRemoteConfig(&window);

    const std::string log = TakeLog();
    EXPECT_EQ(log.find("::671] package staged while downloading") != std::string::npos, c.staged == Whole) << log;
    EXPECT_EQ(
        log.find("::673] package staged while downloading up to entry 1, the rest is unzipped") != std::string::npos,
        c.staged == Part)
        << log;
    EXPECT_EQ(log.find("::672] the package is unzipped after its download") != std::string::npos, c.staged == None)
        << log;
    EXPECT_FALSE(os::PathExists(Ctx().layout.stagingDir));
    if (!c.installs) {
      EXPECT_EQ(window.Messages(), (std::vector<std::string>{"解压失败", "更新失败,请检查网络:103"}));
      EXPECT_FALSE(os::PathExists(DataDir() + "/readme.txt"));
      continue;
    }
    ExpectInstalled(window);
    EXPECT_EQ(Sandbox::ReadFile(DataDir() + "/game/run"), big);
    EXPECT_EQ(Sandbox::ReadFile(DataDir() + "/readme.txt"), "the new client");
    if (c.staged == Part) EXPECT_EQ(Sandbox::ReadFile(DataDir() + "/game/more/notes.txt"), "after the stored one");
    // The extraction's progress, every entry once in the archive's order, and its entry lines.
    const auto progress = window.Progress(0);
    const size_t n = progress.size();
    ASSERT_GE(n, 2u);
    for (size_t i = 0; i < n; ++i)
      EXPECT_EQ(progress[i].first, std::to_string(i + 1) + "/" + std::to_string(n)) << "progress step " << i;
    EXPECT_EQ(progress.back().second, 100);
    const size_t begin = log.find("::OnUnzipFile::393] unzip file:");
    const size_t runLine = log.find("[INFO][CGameRemoteConfig::OnUnzipFile::426] game/run\n");
    const size_t readmeLine = log.find("[INFO][CGameRemoteConfig::OnUnzipFile::426] readme.txt\n");
    const size_t end = log.find("[INFO][CGameRemoteConfig::OnUnzipFile::489] unzip is finish!");
    EXPECT_EQ(log.find("::OnUnzipFile::393]", begin + 1), std::string::npos) << "one begin line";
    EXPECT_LT(begin, std::min(runLine, readmeLine));
    EXPECT_NE(runLine, std::string::npos);
    EXPECT_NE(readmeLine, std::string::npos);
    EXPECT_LT(std::max(runLine, readmeLine), end);
    EXPECT_EQ(log.find("::OnUnzipFile::489]", end + 50), std::string::npos) << "one end line";
    if (c.withModes) {
      struct stat st {};
      ASSERT_EQ(stat((DataDir() + "/game/run").c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 0777, 0750u & ~static_cast<unsigned>(os::CurrentUmask()));
    }
  }
}

// The staging never takes the room the rest of the download needs: with more still to come than
// the disk has free, nothing is staged and the package is extracted after its download.
TEST_F(HostilePackage, StagingLeavesTheRestOfTheDownloadItsRoom) {
  for (const bool roomLeft : {true, false}) {
    SCOPED_TRACE(roomLeft ? "room left" : "no room left");
    SetUp();
    Sandbox::WriteFile(PackagePath(), Package());
    const int64_t toCome = roomLeft ? 0 : int64_t{1} << 50;
    PackageStager stager(
        PackagePath(), Ctx().layout.stagingDir, [] { return false; }, [&] { return toCome; });
    ASSERT_TRUE(stager.Start());
    stager.Advance(static_cast<int64_t>(Package().size()));
    EXPECT_TRUE(stager.Finish(true));
    EXPECT_EQ(os::PathExists(Ctx().layout.stagingDir + "/game/data.bin"), roomLeft);
    EXPECT_EQ(stager.Entries().size(), roomLeft ? 4u : 1u);  // the folder entry takes no room
    if (!roomLeft) {
      EXPECT_NE(TakeLog().find("::673] package staged while downloading up to entry 1, the rest is unzipped after "
                               "its download: too little room beside the download"),
                std::string::npos);
    }
  }
}

}  // namespace
