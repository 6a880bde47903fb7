#include "UpdateTestSupport.h"

#include <minizip/zip.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "Identity.h"
#include "log/LauncherLog.h"
#include "os/Crypto.h"
#include "support/TestPlatform.h"

// Conversions go through the locale's character set: make it UTF-8 before anything converts.
static const bool kUtf8Locale = (UseUtf8Locale(), true);

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

std::string BuildZip(const std::vector<ZipEntry>& entries) {
  namespace fs = std::filesystem;
  static std::mt19937_64 names{std::random_device{}()};
  const fs::path file = fs::temp_directory_path() / ("vellmora-zip-" + std::to_string(names()));
  const std::string tmpl = file.string();
  zipFile zip = zipOpen64(tmpl.c_str(), APPEND_STATUS_CREATE);
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
  std::error_code ignored;
  fs::remove(file, ignored);
  return bytes;
}

void UpdateTest::SetUp() {
  (void)kUtf8Locale;
  sandbox_.MakeDrives(true);
  // Table tests call SetUp once per case: each starts from an empty installation and registry.
  std::error_code error;
  std::filesystem::remove_all(InstallDir(), error);
  ASSERT_FALSE(error) << error.message();
  std::filesystem::remove_all(sandbox_.Prefix() + "/registry", error);
  ASSERT_FALSE(error) << error.message();
  std::filesystem::create_directories(DataDir(), error);
  ASSERT_FALSE(error) << error.message();
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
  os::Sha256 digest;
  os::Sha256Value value{};
  if (!digest.Update(data.data(), data.size()) || !digest.Current(value)) return std::string();
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (uint8_t byte : value) {
    out += kHex[byte >> 4];
    out += kHex[byte & 15];
  }
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
