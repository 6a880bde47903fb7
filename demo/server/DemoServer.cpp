#include "DemoServer.h"

#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string_view>
#include <thread>
#include <vector>

#include "Identity.h"

namespace demo {
namespace {

// The path (without query) of a compiled-in URL such as "http://host:port/api/x.php?lv=1".
std::string PathOf(const std::string& url) {
  auto start = url.find('/', url.find("://") + 3);
  if (start == std::string::npos) return "/";
  auto end = url.find('?', start);
  return url.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// The package's file name, as the launcher saves it too: "<GameShortName>.zip".
std::string PackageFileName() { return std::string(identity::GameShortName) + ".zip"; }

// The text with every regular-expression metacharacter escaped, to match it literally in a route.
std::string RegexLiteral(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (std::string_view("\\^$.|?*+()[]{}").find(c) != std::string_view::npos) out += '\\';
    out += c;
  }
  return out;
}

std::int64_t FileSize(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return st.st_size;
}

// The package file and the pacing of one response. Runs on the connection's thread.
struct PackageTransfer {
  std::FILE* file = nullptr;
  std::int64_t sent = 0;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  ~PackageTransfer() {
    if (file) std::fclose(file);
  }
};

}  // namespace

DemoServer::DemoServer(DemoOptions options) : options_(std::move(options)) {}

std::string DemoServer::EntryUrl() const {
  return BaseUrl(options_) + "/login/index.html" +
         (options_.autologin ? "?autologin=" + std::to_string(options_.autologinDelay) : "");
}

std::string DemoServer::ConfigDocument() const {
  const std::string base = BaseUrl(options_);
  std::string doc;
  doc += "ClientVersion=" + options_.version + "\n";
  if (!options_.omitMiniVersion) doc += "ClientMiniUpdateVersion=" + options_.miniVersion + "\n";
  doc += "ClientDownloadUrl=" + base + "/packages/{ditch_name}/{version}/" + PackageFileName() + "\n";
  doc += "Client32DownloadUrl=" + base + "/packages32/{ditch_name}/{version}/" + PackageFileName() + "\n";
  doc += "EntryUrl=" + EntryUrl() + "\n";
  doc += "CustomParameters=" + options_.customParameters + "\n";
  if (options_.publishHash && !proof_.sha256Hex.empty()) doc += "ClientPackageSha256=" + proof_.sha256Hex + "\n";
  if (options_.publishSignature && !proof_.signature.empty())
    doc += "ClientPackageSignature=" + proof_.signature + "\n";
  return doc;
}

std::string DemoServer::PackageUrl() const {
  return BaseUrl(options_) + "/packages/" + identity::ChannelName + "/" + options_.version + "/" + PackageFileName();
}

std::string DemoServer::Describe() const {
  const std::string base = BaseUrl(options_);
  std::string d;
  d += "configuration  " + base + PathOf(identity::RemoteConfigUrl) + " (status " +
       std::to_string(options_.configStatus) + ")\n";
  d += ConfigDocument();
  d += "package        " + PackageUrl() + "\n";
  d += "               " + options_.packagePath + " (" + std::to_string(FileSize(options_.packagePath)) + " bytes" +
       (options_.throttle > 0 ? ", at most " + std::to_string(options_.throttle) + " bytes/s" : "") + ")\n";
  d += "login page     " + EntryUrl() + " (demo password: vellmora)\n";
  d += "telemetry      " + base + PathOf(identity::InfoReportUrl) + ", " + base + PathOf(identity::ErrorReportUrl) +
       (options_.telemetryLog.empty() ? "" : " -> " + options_.telemetryLog) + "\n";
  return d;
}

bool DemoServer::Start() {
  if (!telemetry_.Open(options_.telemetryLog)) {
    std::fprintf(stderr, "vellmora-demo-server: cannot open %s\n", options_.telemetryLog.c_str());
    return false;
  }
  if (!access_.Open(options_.accessLog)) {
    std::fprintf(stderr, "vellmora-demo-server: cannot open %s\n", options_.accessLog.c_str());
    return false;
  }
  if (FileSize(options_.packagePath) < 0) {
    std::fprintf(stderr, "vellmora-demo-server: warning: no package at %s\n", options_.packagePath.c_str());
  } else if (options_.publishHash) {
    const std::string signedPrefix =
        std::string(identity::GameShortName) + "|" + identity::ChannelName + "|" + options_.version + "|";
    proof_ = ProvePackage(options_.packagePath, signedPrefix,
                          options_.publishSignature ? options_.signingKey : std::string());
  }
  InstallRoutes();
  if (!server_.bind_to_port(options_.host, options_.port)) {
    std::fprintf(stderr, "vellmora-demo-server: cannot listen on %s:%d\n", options_.host.c_str(), options_.port);
    return false;
  }
  return true;
}

void DemoServer::Run() { server_.listen_after_bind(); }

void DemoServer::Stop() {
  stopping_ = true;
  server_.stop();
}

void DemoServer::InstallRoutes() {
  // Keep-alive connections would hold a worker thread each; the launcher opens few connections.
  server_.set_keep_alive_timeout(2);
  // Address reuse only: a second server on the same port must fail to bind rather than share it.
  server_.set_socket_options([](int sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });

  server_.Get(PathOf(identity::RemoteConfigUrl), [this](const httplib::Request&, httplib::Response& res) {
    if (options_.configStatus != 200) {
      res.status = options_.configStatus;
      res.set_content("configuration unavailable\n", "text/plain");
      return;
    }
    res.set_content(ConfigDocument(), "text/plain; charset=utf-8");
  });

  server_.Get(R"(/packages(32)?/([^/]+)/([^/]+)/)" + RegexLiteral(PackageFileName()),
              [this](const httplib::Request& req, httplib::Response& res) { ServePackage(req, res); });

  auto telemetry = [this](const httplib::Request& req, httplib::Response& res) { RecordTelemetry(req, res); };
  server_.Get(PathOf(identity::InfoReportUrl), telemetry);
  server_.Get(PathOf(identity::ErrorReportUrl), telemetry);

  server_.set_mount_point("/login", options_.pageDir);
  // The page reports that it is on screen (see page/index.html); the access log keeps the time.
  server_.Get("/login/shown", [](const httplib::Request&, httplib::Response& res) { res.status = 204; });
  server_.Get("/", [this](const httplib::Request&, httplib::Response& res) {
    res.set_content(Describe(), "text/plain; charset=utf-8");
  });

  server_.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
    std::string range = req.get_header_value("Range");
    std::string line = req.method + " " + req.target + " range=" + (range.empty() ? "-" : range) +
                       " status=" + std::to_string(res.status);
    access_.Append(line);
    if (options_.print) {
      std::printf("%s\n", line.c_str());
      std::fflush(stdout);
    }
  });
}

void DemoServer::RecordTelemetry(const httplib::Request& req, httplib::Response& res) {
  telemetry_.Append(req.target);
  res.set_content("ok", "text/plain");
}

// Byte ranges are left to the library: with a single "bytes=N-" range it answers 206 with
// Content-Range and asks the provider for the bytes from N on.
void DemoServer::ServePackage(const httplib::Request& req, httplib::Response& res) {
  if (req.matches[2] != identity::ChannelName || req.matches[3] != options_.version) {
    res.status = 404;
    res.set_content("no such package\n", "text/plain");
    return;
  }
  const std::int64_t size = FileSize(options_.packagePath);
  auto transfer = std::make_shared<PackageTransfer>();
  transfer->file = size >= 0 ? std::fopen(options_.packagePath.c_str(), "rb") : nullptr;
  if (!transfer->file) {
    res.status = 404;
    res.set_content("package missing\n", "text/plain");
    return;
  }
  if (req.ranges.size() == 1) {
    // A range that starts at or beyond the end cannot be satisfied.
    const auto first = req.ranges[0].first;
    if (first >= 0 && first >= size) {
      res.status = 416;
      res.set_header("Content-Range", "bytes */" + std::to_string(size));
      return;
    }
  }
  const std::int64_t throttle = options_.throttle;
  res.set_content_provider(static_cast<size_t>(size), "application/zip",
                           [this, transfer, throttle](size_t offset, size_t length, httplib::DataSink& sink) {
                             if (stopping_) return false;
                             size_t chunk = std::min<size_t>(length, 64 * 1024);
                             if (throttle > 0)
                               chunk = std::min<size_t>(chunk, std::max<std::int64_t>(1024, throttle / 20));
                             std::vector<char> buffer(chunk);
                             if (fseeko(transfer->file, static_cast<off_t>(offset), SEEK_SET) != 0) return false;
                             size_t n = std::fread(buffer.data(), 1, chunk, transfer->file);
                             if (n == 0) return false;
                             if (throttle > 0) {
                               // Pace by the bytes sent so far in this response, so the average never exceeds the
                               // limit.
                               auto due =
                                   transfer->start + std::chrono::microseconds(transfer->sent * 1000000 / throttle);
                               while (!stopping_ && std::chrono::steady_clock::now() < due)
                                 std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
                                     due - std::chrono::steady_clock::now(), std::chrono::milliseconds(50)));
                               if (stopping_) return false;
                             }
                             transfer->sent += static_cast<std::int64_t>(n);
                             return sink.write(buffer.data(), n);
                           });
}

}  // namespace demo
