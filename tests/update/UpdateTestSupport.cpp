#include "UpdateTestSupport.h"

#include <arpa/inet.h>
#include <glib.h>
#include <minizip/zip.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cstdlib>

#include "Identity.h"
#include "log/LauncherLog.h"

// Conversions go through the locale's character set: make it UTF-8 before anything converts.
static const bool kUtf8Locale = (setenv("LC_ALL", "C.UTF-8", 1), true);

bool RecordingWindow::Has(const std::string& call) const {
  for (const auto& c : Calls())
    if (c == call) return true;
  return false;
}

std::vector<std::string> RecordingWindow::Messages() const {
  std::vector<std::string> out;
  for (const auto& c : Calls()) {
    if (c.rfind("SetProgress|", 0) != 0) continue;
    std::string message = c.substr(12, c.find('|', 12) - 12);
    if (!message.empty()) out.push_back(message);
  }
  return out;
}

std::vector<std::pair<std::string, int>> RecordingWindow::Progress(int downloading) const {
  std::vector<std::pair<std::string, int>> out;
  for (const auto& c : Calls()) {
    if (c.rfind("SetProgress||", 0) != 0) continue;
    // SetProgress||<text>|<percent>|<downloading>
    size_t a = 13, b = c.find('|', a), d = c.find('|', b + 1);
    if (std::stoi(c.substr(d + 1)) != downloading) continue;
    out.emplace_back(c.substr(a, b - a), std::stoi(c.substr(b + 1, d - b - 1)));
  }
  return out;
}

TestServer::TestServer() { http_.Start(); }

void TestServer::ServeText(const std::string& path, const std::string& text) {
  http_.Server().Get(path, [text](const httplib::Request&, httplib::Response& res) {
    res.status = 200;
    res.set_content(text, "text/plain");
  });
}

void TestServer::ServePackage(const std::string& path, const std::string& body, bool ignoreRange, size_t blockSize,
                              std::chrono::milliseconds delay) {
  http_.Server().Get(path, [=, this](const httplib::Request& req, httplib::Response& res) {
    std::string range = req.get_header_value("Range");
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ranges_.push_back(range);
    }
    // Take the range away from the library: this handler decides what the answer is.
    const_cast<httplib::Request&>(req).ranges.clear();
    size_t from = 0;
    if (!ignoreRange && range.rfind("bytes=", 0) == 0) from = std::strtoull(range.c_str() + 6, nullptr, 10);
    if (from > body.size()) {
      res.status = 416;
      return;
    }
    if (from > 0) {
      res.status = 206;
      res.set_header("Content-Range", "bytes " + std::to_string(from) + "-" + std::to_string(body.size() - 1) + "/" +
                                          std::to_string(body.size()));
    } else {
      res.status = 200;
    }
    res.set_content_provider(body.size() - from, "application/zip",
                             [=](size_t offset, size_t length, httplib::DataSink& sink) {
                               size_t n = std::min(length, blockSize);
                               if (!sink.write(body.data() + from + offset, n)) return false;
                               if (delay.count() > 0) std::this_thread::sleep_for(delay);
                               return true;
                             });
  });
}

std::vector<std::string> TestServer::PackageRanges() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return ranges_;
}

int UnusedPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  int port = ntohs(addr.sin_port);
  close(fd);  // bound but never listening: connections are refused
  return port;
}

std::string BuildZip(const std::vector<ZipEntry>& entries) {
  char tmpl[] = "/tmp/vellmora-zip-XXXXXX";
  int fd = mkstemp(tmpl);
  close(fd);
  zipFile zip = zipOpen64(tmpl, APPEND_STATUS_CREATE);
  for (const auto& e : entries) {
    zip_fileinfo info{};
    uLong madeBy = 0;
    if (e.mode != 0) {
      bool dir = !e.name.empty() && e.name.back() == '/';
      info.external_fa = static_cast<uLong>((dir ? 0040000u : 0100000u) | e.mode) << 16;
      madeBy = 3u << 8;  // Unix
    }
    zipOpenNewFileInZip4_64(zip, e.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, e.stored ? 0 : Z_DEFLATED,
                            e.stored ? 0 : Z_DEFAULT_COMPRESSION, 0, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY,
                            nullptr, 0, madeBy, 0, 0);
    if (!e.data.empty()) zipWriteInFileInZip(zip, e.data.data(), static_cast<unsigned>(e.data.size()));
    zipCloseFileInZip(zip);
  }
  zipClose(zip, nullptr);
  std::string bytes = Sandbox::ReadFile(tmpl);
  unlink(tmpl);
  return bytes;
}

void UpdateTest::SetUp() {
  (void)kUtf8Locale;
  sandbox_.MakeDrives(true);
  // Table tests call SetUp once per case: each starts from an empty installation and registry.
  ASSERT_EQ(
      RunShell("rm -rf '" + InstallDir() + "' '" + sandbox_.Prefix() + "/registry' && mkdir -p '" + DataDir() + "'"),
      0);
  StartNextRun();
}

void UpdateTest::StartNextRun(const std::string& commandLine, const std::string& appName) {
  run_ = std::make_unique<TestContext>(commandLine, appName);
  run_->SettleIn(InstallDir());
  if (!configUrl_.empty()) Ctx().remoteConfigUrl = configUrl_;
}

void UpdateTest::TearDown() { LauncherLog::Instance().Close(); }

std::string UpdateTest::TakeLog() {
  LauncherLog::Instance().Close();
  return Sandbox::ReadFile(Ctx().layout.logPath);
}

void UpdateTest::ServeConfig(TestServer& server, const std::string& document) {
  server.ServeText("/config", document);
  SetConfigUrl(server.Url("/config"));
}

void UpdateTest::SetConfigUrl(const std::string& url) {
  configUrl_ = url;
  Ctx().remoteConfigUrl = url;
}

::testing::AssertionResult LogHas(const std::string& log, const std::string& level, const std::string& function,
                                  int line, const std::string& text) {
  std::string needle = "[" + level + "][" + function + "::" + std::to_string(line) + "] " + text + "\n";
  if (log.find(needle) != std::string::npos) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "log lacks: " << needle << "\n--- log ---\n" << log;
}

std::string Sha256Hex(const std::string& data) {
  gchar* hex =
      g_compute_checksum_for_data(G_CHECKSUM_SHA256, reinterpret_cast<const guchar*>(data.data()), data.size());
  std::string out(hex);
  g_free(hex);
  return out;
}

std::string RandomBytes(size_t n, uint32_t seed) {
  std::string out(n, '\0');
  uint32_t x = seed ? seed : 1;
  for (size_t i = 0; i < n; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    out[i] = static_cast<char>(x & 0xFF);
  }
  return out;
}
